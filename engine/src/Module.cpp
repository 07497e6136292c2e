// The four exports of the in-process server and its class factory.
#include "TRXTree.h"

#include <new>

namespace {

using trx::ModuleLocks;

class TRXTreeFactory final : public IClassFactory {
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
    // The factory is static; holding it keeps the module loaded.
    ULONG AddRef() override {
        ModuleLocks().Lock();
        return 2;
    }
    ULONG Release() override {
        ModuleLocks().Unlock();
        return 1;
    }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        trx::TRXTree* obj = new (std::nothrow) trx::TRXTree();
        if (!obj) return E_OUTOFMEMORY;
        HRESULT hr = obj->QueryInterface(riid, ppv);
        obj->Release();
        return hr;
    }
    HRESULT LockServer(BOOL lock) override {
        if (lock) ModuleLocks().Lock();
        else ModuleLocks().Unlock();
        return S_OK;
    }
};

TRXTreeFactory gFactory;

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
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (rclsid != CLSID_TRXTree) return CLASS_E_CLASSNOTAVAILABLE;
    return gFactory.QueryInterface(riid, ppv);
}

COM_EXPORT HRESULT DllCanUnloadNow() { return ModuleLocks().Idle() ? S_OK : S_FALSE; }

COM_EXPORT HRESULT DllRegisterServer() { return com::RegisterClass(Registration()); }

COM_EXPORT HRESULT DllUnregisterServer() { return com::UnregisterClass(Registration()); }
