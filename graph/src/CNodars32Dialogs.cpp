// The property sheet and the table dialogs, run through the dialog seam so a
// host's tests can answer them.
#include "CGraphicTableDialog.h"
#include "CNodars32Ctrl.h"
#include "CNodars32Wnd.h"
#include "CPropertySheet.h"
#include "ui/dialogs.h"

namespace nodars {

QWidget* CNodars32Ctrl::DialogParent() const { return mWnd ? mWnd->window() : nullptr; }

HRESULT CNodars32Ctrl::ShowPropertyPages() {
    return com::Guard(kProgId, [&] {
        RunPropertySheet();
        return S_OK;
    });
}

void CNodars32Ctrl::RunPropertySheet() {
    com::ComPtr<IDispatch> keep(static_cast<IDispatch*>(this));
    CPropertySheet sheet(*this, DialogParent());
    ui::RunDialog(sheet);
    InvalidateControl();
}

int32_t CNodars32Ctrl::RunTableDialog(bool choose, bool shapes, int32_t initial) {
    com::ComPtr<IDispatch> keep(static_cast<IDispatch*>(this));
    CGraphicTableDialog dialog(*this, choose, shapes, initial, DialogParent());
    ui::RunDialog(dialog);
    InvalidateControl();
    return choose ? dialog.Chosen() : (dialog.Changed() ? 1 : 0);
}

}  // namespace nodars
