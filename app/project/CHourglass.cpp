#include "CHourglass.h"

#include "AppServices.h"

namespace {
// Process-wide: it counts every live hourglass, with the program's globals or without.
int32_t gBusyCount = 0;

app::IMainWindow* MainWindow(bool create) {
    app::IForms* forms = app::Forms();
    return forms ? forms->MainWindow(create) : nullptr;
}
}  // namespace

CHourglass::CHourglass() { ++gBusyCount; }

CHourglass::~CHourglass() {
    if (--gBusyCount > 0) return;
    gBusyCount = 0;
    app::IForms* forms = app::Forms();
    if (forms && forms->IsFormLoaded(QStringLiteral("FMain")))
        if (app::IMainWindow* main = forms->MainWindow(false)) main->SetEnabled(true);
    app::Screen().SetMousePointer(app::vbDefault);
}

void CHourglass::SetValue(bool value) {
    mValue = value;
    if (app::IMainWindow* main = MainWindow(true)) main->SetEnabled(!value);
    app::Screen().SetMousePointer(value ? mPointerType : app::vbDefault);
}

void CHourglass::SetPointerType(int16_t pointer) {
    mPointerType = pointer;
    if (mValue) app::Screen().SetMousePointer(pointer);
}

int32_t CHourglass::BusyCount() { return gBusyCount; }
