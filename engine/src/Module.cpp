// The four exports of the in-process server and its class factory.
#include "TRXTree.h"

namespace {

using trx::ModuleLocks;

com::ClassFactory<trx::TRXTree> gFactory(ModuleLocks());

com::ClassRegistration Registration() {
    com::ClassRegistration reg;
    reg.clsid = CLSID_TRXTree;
    reg.description = "TRXTree Class";
    reg.progId = kTRXTreeProgId;
    reg.versionIndependentProgId = kTRXTreeVersionIndependentProgId;
    reg.modulePath = com::ModulePathOf(reinterpret_cast<const void*>(&Registration));
    reg.threadingModel = "Apartment";
    reg.programmable = true;
    reg.interfaces = {{IID_ITRXTree, "ITRXTree"}, {DIID_ITRXEvents, "ITRXEvents"}};
    return reg;
}

}  // namespace

COM_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    return gFactory.GetClassObject(rclsid, CLSID_TRXTree, riid, ppv);
}

COM_EXPORT HRESULT DllCanUnloadNow() { return ModuleLocks().Idle() ? S_OK : S_FALSE; }

COM_EXPORT HRESULT DllRegisterServer() { return com::RegisterClass(Registration()); }

COM_EXPORT HRESULT DllUnregisterServer() { return com::UnregisterClass(Registration()); }
