// The in-process server: class factory, the four exports and registration.
#include "CNodars32Ctrl.h"
#include "Nodars32Module.h"

namespace nodars {

namespace {

com::ModuleCount gModule;

com::ClassFactory<CNodars32Ctrl> gFactory(gModule);

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

}  // namespace

void ModuleLock() { gModule.Lock(); }
void ModuleUnlock() { gModule.Unlock(); }

}  // namespace nodars

COM_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    return nodars::gFactory.GetClassObject(clsid, nodars::CLSID_Nodaris, riid, ppv);
}

COM_EXPORT HRESULT DllCanUnloadNow() { return nodars::gModule.Idle() ? S_OK : S_FALSE; }

COM_EXPORT HRESULT DllRegisterServer() { return com::RegisterClass(nodars::Registration()); }

COM_EXPORT HRESULT DllUnregisterServer() { return com::UnregisterClass(nodars::Registration()); }
