// Class creation through the registry store and the process-wide table of loaded
// server modules.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cstring>
#include <map>
#include <mutex>

#include "com/server.h"
#include "registry/registry.h"

namespace {

struct Module {
    void* handle = nullptr;
    PFN_DllGetClassObject getClassObject = nullptr;
    PFN_DllCanUnloadNow canUnloadNow = nullptr;
};

// Recursive: a module's DllCanUnloadNow or DllGetClassObject may itself create objects.
std::recursive_mutex& ModuleMutex() {
    static std::recursive_mutex m;
    return m;
}

std::map<std::string, Module>& Modules() {
    static auto* modules = new std::map<std::string, Module>();  // lives until exit, like the modules
    return *modules;
}

std::string Canonical(const std::string& path) {
    char buf[PATH_MAX];
    if (::realpath(path.c_str(), buf)) return buf;
    return path;
}

// dlopen takes a name without '/' as a library to search for; a module path
// given here always means a file.
std::string FilePath(const std::string& path) {
    return path.find('/') == std::string::npos ? "./" + path : path;
}

void ReportLoadFailure(const std::string& what) {
    com::SetErrorInfoText(GUID_NULL, "Tessary.COM", what);
}

thread_local int t_initCount = 0;

// Reads a string value of HKEY_CLASSES_ROOT. S_OK, S_FALSE when absent, or a read error.
HRESULT ReadClassesString(const std::string& keyPath, const char* valueName, std::string* out) {
    HKEY key = nullptr;
    int32_t rc = RegOpenKeyEx(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_READ, &key);
    if (rc == ERROR_FILE_NOT_FOUND) return S_FALSE;
    if (rc != ERROR_SUCCESS) return REGDB_E_READREGDB;
    uint32_t type = 0, size = 0;
    rc = RegQueryValueEx(key, valueName, nullptr, &type, nullptr, &size);
    HRESULT hr = S_FALSE;
    if (rc == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
        std::string buf(size, '\0');
        rc = RegQueryValueEx(key, valueName, nullptr, &type, buf.data(), &size);
        if (rc == ERROR_SUCCESS) {
            buf.resize(size ? size - 1 : 0);
            *out = std::move(buf);
            hr = S_OK;
        } else {
            hr = REGDB_E_READREGDB;
        }
    } else if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
        hr = REGDB_E_READREGDB;
    }
    RegCloseKey(key);
    return hr;
}

HRESULT LoadModule(const std::string& path, Module** out) {
    std::string key = Canonical(path);
    auto& modules = Modules();
    auto it = modules.find(key);
    if (it != modules.end()) {
        *out = &it->second;
        return S_OK;
    }
    void* handle = ::dlopen(FilePath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* err = ::dlerror();
        ReportLoadFailure("Cannot load module " + path + ": " + (err ? err : "unknown error"));
        return CO_E_DLLNOTFOUND;
    }
    Module m;
    m.handle = handle;
    m.getClassObject = reinterpret_cast<PFN_DllGetClassObject>(::dlsym(handle, "DllGetClassObject"));
    m.canUnloadNow = reinterpret_cast<PFN_DllCanUnloadNow>(::dlsym(handle, "DllCanUnloadNow"));
    if (!m.getClassObject) {
        ::dlclose(handle);
        ReportLoadFailure("Module " + path + " is not an in-process server (no DllGetClassObject)");
        return CO_E_ERRORINDLL;
    }
    *out = &modules.emplace(key, m).first->second;
    return S_OK;
}

}  // namespace

HRESULT CoInitialize(void*) { return t_initCount++ == 0 ? S_OK : S_FALSE; }

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD clsctx, void*, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(clsctx & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER))) return REGDB_E_CLASSNOTREG;
    std::string path;
    HRESULT hr = ReadClassesString("CLSID\\" + com::GuidToString(rclsid) + "\\InprocServer32", "", &path);
    if (hr == S_FALSE) return REGDB_E_CLASSNOTREG;
    if (FAILED(hr)) return hr;
    if (path.empty()) return CO_E_DLLNOTFOUND;
    std::lock_guard<std::recursive_mutex> guard(ModuleMutex());
    Module* m = nullptr;
    hr = LoadModule(path, &m);
    if (FAILED(hr)) return hr;
    hr = m->getClassObject(rclsid, riid, ppv);
    if (FAILED(hr)) *ppv = nullptr;
    return hr;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* outer, DWORD clsctx, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    com::ComPtr<IClassFactory> factory;
    HRESULT hr = CoGetClassObject(rclsid, clsctx, nullptr, IID_IClassFactory, factory.PutVoid());
    if (FAILED(hr)) return hr;
    if (!factory) return E_UNEXPECTED;
    hr = factory->CreateInstance(nullptr, riid, ppv);
    if (FAILED(hr)) *ppv = nullptr;
    return hr;
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* out) {
    if (!out) return E_POINTER;
    *out = GUID_NULL;
    if (!progId || !*progId) return CO_E_CLASSSTRING;
    std::string name = com::ToUtf8(std::u16string(progId));
    // A ProgID is one key name; a separator would reach elsewhere in the store.
    if (name.find('\\') != std::string::npos) return CO_E_CLASSSTRING;
    // A version-independent ProgID names its current version under CurVer; the
    // chain is short, and bounded here against a loop in a damaged store.
    for (int hop = 0; hop < 8; ++hop) {
        std::string next;
        HRESULT hr = ReadClassesString(name + "\\CurVer", "", &next);
        if (FAILED(hr)) return hr;
        if (hr == S_FALSE || next.empty() || next.find('\\') != std::string::npos || next == name) break;
        std::string probe;
        if (ReadClassesString(next + "\\CLSID", "", &probe) != S_OK) break;  // dangling CurVer: use our own CLSID
        name = next;
    }
    std::string text;
    HRESULT hr = ReadClassesString(name + "\\CLSID", "", &text);
    if (FAILED(hr)) return hr;
    if (hr == S_FALSE) return CO_E_CLASSSTRING;
    if (!com::GuidFromString(text, out)) return CO_E_CLASSSTRING;
    return S_OK;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    std::string text;
    HRESULT hr = ReadClassesString("CLSID\\" + com::GuidToString(clsid) + "\\ProgID", "", &text);
    if (FAILED(hr)) return hr;
    if (hr == S_FALSE || text.empty()) return REGDB_E_CLASSNOTREG;
    std::u16string u = com::ToU16(text);
    auto* p = static_cast<LPOLESTR>(CoTaskMemAlloc((u.size() + 1) * sizeof(OLECHAR)));
    if (!p) return E_OUTOFMEMORY;
    std::memcpy(p, u.c_str(), (u.size() + 1) * sizeof(OLECHAR));
    *out = p;
    return S_OK;
}

void* CoTaskMemAlloc(size_t bytes) { return ::malloc(bytes ? bytes : 1); }
void CoTaskMemFree(void* p) { ::free(p); }

void CoFreeUnusedLibraries() {
    std::lock_guard<std::recursive_mutex> guard(ModuleMutex());
    auto& modules = Modules();
    for (auto it = modules.begin(); it != modules.end();) {
        if (it->second.canUnloadNow && it->second.canUnloadNow() == S_OK) {
            ::dlclose(it->second.handle);
            it = modules.erase(it);
        } else {
            ++it;
        }
    }
}

namespace com {

HRESULT ClsidFromText(const std::string& progIdOrGuid, CLSID* out) {
    if (!out) return E_POINTER;
    if (!progIdOrGuid.empty() && progIdOrGuid[0] == '{') {
        if (!GuidFromString(progIdOrGuid, out)) {
            *out = GUID_NULL;
            return CO_E_CLASSSTRING;
        }
        return S_OK;
    }
    std::u16string u = ToU16(progIdOrGuid);
    return CLSIDFromProgID(u.c_str(), out);
}

HRESULT CreateInstance(const std::string& progIdOrGuid, REFIID iid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    CLSID clsid;
    HRESULT hr = ClsidFromText(progIdOrGuid, &clsid);
    if (FAILED(hr)) return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, ppv);
}

bool IsModuleLoaded(const std::string& path) {
    std::lock_guard<std::recursive_mutex> guard(ModuleMutex());
    return Modules().count(Canonical(path)) != 0;
}

std::string ModulePathOf(const void* address) {
    Dl_info info;
    if (!::dladdr(address, &info) || !info.dli_fname) return {};
    return Canonical(info.dli_fname);
}

HRESULT RegisterModule(const std::string& path, bool unregister) {
    // RTLD_NODELETE: the module stays mapped after registration. Code that runs
    // when a library is unmapped (Qt's above all) does not expect it mid-process.
    void* handle = ::dlopen(FilePath(path).c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle) {
        const char* err = ::dlerror();
        ReportLoadFailure("Cannot load module " + path + ": " + (err ? err : "unknown error"));
        return CO_E_DLLNOTFOUND;
    }
    const char* name = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto fn = reinterpret_cast<PFN_DllRegisterServer>(::dlsym(handle, name));
    HRESULT hr;
    if (!fn) {
        ReportLoadFailure("Module " + path + " has no " + name);
        hr = CO_E_ERRORINDLL;
    } else {
        hr = fn();
    }
    ::dlclose(handle);
    return hr;
}

void ModuleCount::Lock() { ++count_; }
void ModuleCount::Unlock() { --count_; }
bool ModuleCount::Idle() const { return count_.load() == 0; }

}  // namespace com
