#include "CPropertyPageObject.h"

#include "CAMEPropPage.h"
#include "CNodars32Ctrl.h"
#include "CNodars32PropPage.h"
#include "GraphicsPropPage.h"
#include "Nodars32Module.h"

namespace nodars {

template <PageKind Kind>
CPropertyPageObject<Kind>::CPropertyPageObject() {
    ModuleLock();
}

template <PageKind Kind>
CPropertyPageObject<Kind>::~CPropertyPageObject() {
    delete mPage.data();
    ModuleUnlock();
}

template <PageKind Kind>
ULONG CPropertyPageObject<Kind>::Release() {
    const ULONG n = --mRefs;
    if (n == 0) delete this;
    return n;
}

template <PageKind Kind>
HRESULT CPropertyPageObject<Kind>::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IControlPropertyPage) return E_NOINTERFACE;
    *ppv = static_cast<IControlPropertyPage*>(this);
    AddRef();
    return S_OK;
}

template <PageKind Kind>
HRESULT CPropertyPageObject<Kind>::SetObject(IUnknown* control) {
    delete mPage.data();
    mControl.Reset();
    if (!control) return S_OK;
    com::ComPtr<IDispatch> disp;
    if (FAILED(control->QueryInterface(DIID__DNodars32, disp.PutVoid())) ||
        !dynamic_cast<CNodars32Ctrl*>(disp.Get()))
        return E_NOINTERFACE;
    mControl = disp;
    return S_OK;
}

template <PageKind Kind>
HRESULT CPropertyPageObject<Kind>::Activate(QWidget* parent) {
    auto* control = dynamic_cast<CNodars32Ctrl*>(mControl.Get());
    if (!control) return E_UNEXPECTED;
    delete mPage.data();
    if constexpr (Kind == PageKind::General) mPage = new CNodars32PropPage(*control, parent);
    else if constexpr (Kind == PageKind::Graphics)
        mPage = new GraphicsPropPage(*control, GraphicsPropPage::Mode::Page, false, parent);
    else mPage = new CAMEPropPage(*control, parent);
    return S_OK;
}

template <PageKind Kind>
HRESULT CPropertyPageObject<Kind>::Apply() {
    if (!mPage) return E_UNEXPECTED;
    if constexpr (Kind == PageKind::General) static_cast<CNodars32PropPage*>(mPage.data())->Apply();
    return S_OK;
}

template <PageKind Kind>
const char* CPropertyPageObject<Kind>::Title() {
    return Kind == PageKind::General ? "General" : Kind == PageKind::Graphics ? "Graphics" : "Events";
}

template <PageKind Kind>
const CLSID& CPropertyPageObject<Kind>::ClassId() {
    return Kind == PageKind::General ? CLSID_Nodars32PropPage
           : Kind == PageKind::Graphics ? CLSID_GraphicsPropPage
                                        : CLSID_CAMEPropPage;
}

template <PageKind Kind>
com::ClassRegistration CPropertyPageObject<Kind>::Registration(const std::string& modulePath) {
    com::ClassRegistration reg;
    reg.clsid = ClassId();
    if constexpr (Kind == PageKind::General) {
        reg.description = "Nodaris Property Page";
        reg.progId = "NODARS32.Nodars32PropPage.1";
    } else if constexpr (Kind == PageKind::Graphics) {
        reg.description = "Nodaris Graphics Property Page";
        reg.progId = "Nodars32.GraphicsPropPage";
    } else {
        reg.description = "Nodaris Auto Mouse Events Property Page";
        reg.progId = "Nodars32.CAMEPropPage";
    }
    reg.modulePath = modulePath;
    reg.programmable = false;
    return reg;
}

template class CPropertyPageObject<PageKind::General>;
template class CPropertyPageObject<PageKind::Graphics>;
template class CPropertyPageObject<PageKind::Events>;

}  // namespace nodars
