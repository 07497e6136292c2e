// Class creation, in-process servers and their registration.
#pragma once

#include <atomic>
#include <new>
#include <string>

#include "com/dispatch.h"
#include "com/guard.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_ALL = 0x17;

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    virtual HRESULT LockServer(BOOL fLock) = 0;

protected:
    ~IClassFactory() = default;
};

// The four exports of an in-process server module (extern "C", default visibility):
//   HRESULT DllGetClassObject(REFCLSID, REFIID, void**);
//   HRESULT DllCanUnloadNow();          // S_OK when no object or lock is alive
//   HRESULT DllRegisterServer();
//   HRESULT DllUnregisterServer();
using PFN_DllGetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
using PFN_DllCanUnloadNow = HRESULT (*)();
using PFN_DllRegisterServer = HRESULT (*)();
using PFN_DllUnregisterServer = HRESULT (*)();

#define COM_EXPORT extern "C" __attribute__((visibility("default")))

// Per-thread initialisation; counted, harmless to repeat. Creation works without it.
HRESULT CoInitialize(void* reserved);

// Looks CLSID up under HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32 in the registry
// store, loads that module (once per process) and asks its DllGetClassObject.
// Not registered: REGDB_E_CLASSNOTREG. Module missing or not a server: CO_E_DLLNOTFOUND
// / CO_E_ERRORINDLL. Aggregation is not supported (CLASS_E_NOAGGREGATION).
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD clsctx, void* reserved, REFIID riid, void** ppv);
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* outer, DWORD clsctx, REFIID riid, void** ppv);
// ProgID (or version-independent ProgID, followed through CurVer) to CLSID via
// HKEY_CLASSES_ROOT\<ProgID>\CLSID. Unknown: CO_E_CLASSSTRING.
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* out);
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* out);  // *out freed with CoTaskMemFree
void CoTaskMemFree(void* p);
void* CoTaskMemAlloc(size_t bytes);
// Unloads every loaded module whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();

namespace com {

// CLSID from "{...}" text or from a ProgID.
HRESULT ClsidFromText(const std::string& progIdOrGuid, CLSID* out);
// Creates by ProgID or braced CLSID text and asks for `iid`.
HRESULT CreateInstance(const std::string& progIdOrGuid, REFIID iid, void** ppv);

// Whether a module is currently loaded by the runtime (for tests of unloading).
bool IsModuleLoaded(const std::string& path);

// The path of the shared object that contains `address` (a server uses the address
// of one of its own functions to find its own file for registration).
std::string ModulePathOf(const void* address);

// The standard registration entries of one creatable class of an in-process server:
//   HKCR\CLSID\{clsid}                      = description
//   HKCR\CLSID\{clsid}\ProgID               = progId
//   HKCR\CLSID\{clsid}\VersionIndependentProgID = versionIndependentProgId
//   HKCR\CLSID\{clsid}\InprocServer32       = modulePath, ThreadingModel = threadingModel
//   HKCR\CLSID\{clsid}\Programmable, \TypeLib = {libid}, \Version, \Control (when flagged)
//   HKCR\<progId>\CLSID = {clsid};  HKCR\<progId> = description
//   HKCR\<versionIndependentProgId>\CLSID, \CurVer = progId
//   HKCR\Interface\{iid} = name, \TypeLib, for each listed interface
struct InterfaceEntry {
    IID iid;
    std::string name;
};
struct ClassRegistration {
    CLSID clsid;
    std::string description;
    std::string progId;
    std::string versionIndependentProgId;  // may be empty
    std::string modulePath;
    std::string threadingModel = "Apartment";
    bool programmable = true;
    bool control = false;
    std::string typeLibId;       // braced, may be empty
    std::string typeLibVersion;  // e.g. "1.2", may be empty
    std::vector<InterfaceEntry> interfaces;
};
HRESULT RegisterClass(const ClassRegistration& reg);
// Removes what RegisterClass wrote; missing keys are not an error.
HRESULT UnregisterClass(const ClassRegistration& reg);

// Calls a module's DllRegisterServer (unregister=false) or DllUnregisterServer.
// CO_E_DLLNOTFOUND for a path that does not load, CO_E_ERRORINDLL when the export is missing.
HRESULT RegisterModule(const std::string& path, bool unregister);

// Counter for a server module's live objects and locks (DllCanUnloadNow reads it).
class ModuleCount {
public:
    void Lock();
    void Unlock();
    bool Idle() const;

private:
    std::atomic<long> count_{0};
};

// The class factory of one creatable class T of a server module. T is made with
// `new T()` holding one reference. The factory itself is a static object of the
// module: its references are module locks, so holding it keeps the module loaded.
template <class T>
class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(ModuleCount& module) : module_(module) {}

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
    ULONG AddRef() override { module_.Lock(); return 2; }
    ULONG Release() override { module_.Unlock(); return 1; }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        // A constructor that allocates can throw; the caller gets an HRESULT.
        return Guard("ClassFactory", [&] {
            T* object = new T();
            HRESULT hr = object->QueryInterface(riid, ppv);
            object->Release();
            return hr;
        });
    }
    HRESULT LockServer(BOOL lock) override {
        if (lock) module_.Lock(); else module_.Unlock();
        return S_OK;
    }

    // DllGetClassObject of a module with this one class.
    HRESULT GetClassObject(REFCLSID requested, REFCLSID own, REFIID riid, void** ppv) {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (requested != own) return CLASS_E_CLASSNOTAVAILABLE;
        return QueryInterface(riid, ppv);
    }

private:
    ModuleCount& module_;
};

}  // namespace com

