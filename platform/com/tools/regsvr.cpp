// regsvr [/u] <module.so>: calls the module's DllRegisterServer (or, with /u,
// DllUnregisterServer) against the class store named by $TESSARY_CLASSES.
#include <cstdio>
#include <cstring>
#include <string>

#include "com/com.h"
#include "registry/registry.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: regsvr [/u] <module.so>\n");
    return 2;
}

std::string Reason(HRESULT hr) {
    switch (hr) {
    case CO_E_DLLNOTFOUND: return "the module cannot be loaded";
    case CO_E_ERRORINDLL: return "the module is not an in-process server";
    case REGDB_E_WRITEREGDB: return "the class store cannot be written";
    case REGDB_E_READREGDB: return "the class store cannot be read";
    case SELFREG_E_CLASS: return "the module could not register its classes";
    case E_OUTOFMEMORY: return "out of memory";
    default: return "the module reported failure";
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool unregister = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "/u") || !std::strcmp(argv[i], "-u")) unregister = true;
        else if (!path) path = argv[i];
        else return Usage();
    }
    if (!path || !*path) return Usage();
    HRESULT hr = com::RegisterModule(path, unregister);
    if (FAILED(hr)) {
        std::string detail;
        com::ComPtr<IErrorInfo> info;
        if (GetErrorInfo(0, info.Put()) == S_OK && info) {
            com::BStr text;
            if (SUCCEEDED(info->GetDescription(text.Put()))) detail = text.Utf8();
        }
        std::fprintf(stderr, "regsvr: %s %s failed: %s (0x%08X)%s%s\n", unregister ? "unregistering" : "registering",
                     path, Reason(hr).c_str(), unsigned(hr), detail.empty() ? "" : "\n  ", detail.c_str());
        return 1;
    }
    std::printf("regsvr: %s %s in %s\n", unregister ? "unregistered" : "registered", path,
                reg::StorePath(HKEY_CLASSES_ROOT).c_str());
    return 0;
}
