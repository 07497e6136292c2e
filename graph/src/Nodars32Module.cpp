// The in-process server: class factory, the four exports and registration.
#include "CNodars32Ctrl.h"
#include "Nodars32Module.h"

namespace nodars {

namespace {

com::ModuleCount gModule;

class CNodars32Factory final : public IClassFactory {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is static; its references keep the module loaded.
    ULONG AddRef() override { gModule.Lock(); return 2; }
    ULONG Release() override { gModule.Unlock(); return 1; }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* control = new CNodars32Ctrl();
        HRESULT hr = control->QueryInterface(riid, ppv);
        control->Release();
        return hr;
    }
    HRESULT LockServer(BOOL lock) override {
        if (lock) gModule.Lock(); else gModule.Unlock();
        return S_OK;
    }
};

CNodars32Factory gFactory;

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
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (clsid != nodars::CLSID_Nodaris) return CLASS_E_CLASSNOTAVAILABLE;
    return nodars::gFactory.QueryInterface(riid, ppv);
}

COM_EXPORT HRESULT DllCanUnloadNow() { return nodars::gModule.Idle() ? S_OK : S_FALSE; }

COM_EXPORT HRESULT DllRegisterServer() { return com::RegisterClass(nodars::Registration()); }

COM_EXPORT HRESULT DllUnregisterServer() { return com::UnregisterClass(nodars::Registration()); }
