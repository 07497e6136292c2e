// The in-process server: class factory, the four exports and registration.
#include "CNodars32Ctrl.h"
#include "CPropertyPageObject.h"
#include "Nodars32Module.h"

#include <vector>

namespace nodars {

namespace {

com::ModuleCount gModule;

com::ClassFactory<CNodars32Ctrl> gFactory(gModule);
using GeneralPage = CPropertyPageObject<PageKind::General>;
using GraphicsPage = CPropertyPageObject<PageKind::Graphics>;
using EventsPage = CPropertyPageObject<PageKind::Events>;
com::ClassFactory<GeneralPage> gGeneralFactory(gModule);
com::ClassFactory<GraphicsPage> gGraphicsFactory(gModule);
com::ClassFactory<EventsPage> gEventsFactory(gModule);

com::ClassRegistration Registration() {
    com::ClassRegistration reg;
    reg.clsid = CLSID_Nodaris;
    reg.description = "Nodars32 Control";
    reg.progId = kProgId;
    reg.versionIndependentProgId = kVersionIndependentProgId;
    reg.modulePath = com::ModulePathOf(reinterpret_cast<const void*>(&Registration));
    reg.control = true;
    reg.typeLibId = com::GuidToString(LIBID_NodarisLib);
    reg.typeLibVersion = "1.2";
    reg.interfaces = {{DIID__DNodars32, "_DNodars32"},
                      {DIID__DNodars32Events, "_DNodars32Events"},
                      {IID_IControlHosting, "IControlHosting"},
                      {IID_IGraphGeometry, "IGraphGeometry"}};
    return reg;
}

// The control and its three pages, each registered on its own.
std::vector<com::ClassRegistration> Registrations() {
    const com::ClassRegistration control = Registration();
    return {control, GeneralPage::Registration(control.modulePath), GraphicsPage::Registration(control.modulePath),
            EventsPage::Registration(control.modulePath)};
}

}  // namespace

void ModuleLock() { gModule.Lock(); }
void ModuleUnlock() { gModule.Unlock(); }

}  // namespace nodars

COM_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    using namespace nodars;
    if (clsid == GeneralPage::ClassId()) return gGeneralFactory.GetClassObject(clsid, clsid, riid, ppv);
    if (clsid == GraphicsPage::ClassId()) return gGraphicsFactory.GetClassObject(clsid, clsid, riid, ppv);
    if (clsid == EventsPage::ClassId()) return gEventsFactory.GetClassObject(clsid, clsid, riid, ppv);
    return gFactory.GetClassObject(clsid, CLSID_Nodaris, riid, ppv);
}

COM_EXPORT HRESULT DllCanUnloadNow() { return nodars::gModule.Idle() ? S_OK : S_FALSE; }

COM_EXPORT HRESULT DllRegisterServer() {
    HRESULT hr = S_OK;
    for (const com::ClassRegistration& reg : nodars::Registrations())
        if (HRESULT h = com::RegisterClass(reg); FAILED(h) && SUCCEEDED(hr)) hr = h;
    return hr;
}

COM_EXPORT HRESULT DllUnregisterServer() {
    HRESULT hr = S_OK;
    for (const com::ClassRegistration& reg : nodars::Registrations())
        if (HRESULT h = com::UnregisterClass(reg); FAILED(h) && SUCCEEDED(hr)) hr = h;
    return hr;
}
