#include "com/server.h"
#include "registry/registry.h"

namespace {

HRESULT Failed(int32_t rc) { return rc == ERROR_SUCCESS ? S_OK : REGDB_E_WRITEREGDB; }

// Writes the default value (valueName "") or a named string value of a key,
// creating the key.
HRESULT Put(const std::string& key, const std::string& valueName, const std::string& value) {
    HKEY k = nullptr;
    int32_t rc = RegCreateKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_WRITE, &k, nullptr);
    if (rc != ERROR_SUCCESS) return Failed(rc);
    rc = RegSetValueEx(k, valueName.c_str(), 0, REG_SZ, value.c_str(), uint32_t(value.size() + 1));
    RegCloseKey(k);
    return Failed(rc);
}

HRESULT MakeKey(const std::string& key) {
    HKEY k = nullptr;
    int32_t rc = RegCreateKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_WRITE, &k, nullptr);
    if (rc == ERROR_SUCCESS) RegCloseKey(k);
    return Failed(rc);
}

HRESULT DeleteTree(const std::string& key) {
    int32_t rc = RegDeleteTree(HKEY_CLASSES_ROOT, key.c_str());
    return rc == ERROR_FILE_NOT_FOUND ? S_OK : Failed(rc);
}

// A ProgID key is removed only while it still names this class: another
// server may have taken the name over since.
HRESULT DeleteProgId(const std::string& progId, const std::string& clsid) {
    if (progId.empty() || progId.find('\\') != std::string::npos) return S_OK;
    std::string current;
    if (reg::GetString(HKEY_CLASSES_ROOT, progId + "\\CLSID", "", &current) && current != clsid) {
        GUID a, b;
        if (!com::GuidFromString(current, &a) || !com::GuidFromString(clsid, &b) || a != b) return S_OK;
    }
    return DeleteTree(progId);
}

}  // namespace

namespace com {

HRESULT RegisterClass(const ClassRegistration& r) {
    if (r.modulePath.empty() || r.progId.find('\\') != std::string::npos ||
        r.versionIndependentProgId.find('\\') != std::string::npos)
        return E_INVALIDARG;
    const std::string clsid = GuidToString(r.clsid);
    const std::string base = "CLSID\\" + clsid;
    HRESULT hr = DeleteTree(base);  // no stale entries from an earlier version
    auto step = [&](HRESULT h) {
        if (SUCCEEDED(hr) && FAILED(h)) hr = h;
    };
    step(Put(base, "", r.description));
    if (!r.progId.empty()) step(Put(base + "\\ProgID", "", r.progId));
    if (!r.versionIndependentProgId.empty())
        step(Put(base + "\\VersionIndependentProgID", "", r.versionIndependentProgId));
    step(Put(base + "\\InprocServer32", "", r.modulePath));
    if (!r.threadingModel.empty()) step(Put(base + "\\InprocServer32", "ThreadingModel", r.threadingModel));
    if (r.programmable) step(MakeKey(base + "\\Programmable"));
    if (r.control) step(MakeKey(base + "\\Control"));
    if (!r.typeLibId.empty()) step(Put(base + "\\TypeLib", "", r.typeLibId));
    if (!r.typeLibVersion.empty()) step(Put(base + "\\Version", "", r.typeLibVersion));
    if (!r.progId.empty()) {
        step(Put(r.progId, "", r.description));
        step(Put(r.progId + "\\CLSID", "", clsid));
    }
    if (!r.versionIndependentProgId.empty()) {
        step(Put(r.versionIndependentProgId, "", r.description));
        step(Put(r.versionIndependentProgId + "\\CLSID", "", clsid));
        if (!r.progId.empty()) step(Put(r.versionIndependentProgId + "\\CurVer", "", r.progId));
    }
    for (const auto& i : r.interfaces) {
        std::string key = "Interface\\" + GuidToString(i.iid);
        step(Put(key, "", i.name));
        if (!r.typeLibId.empty()) {
            step(Put(key + "\\TypeLib", "", r.typeLibId));
            if (!r.typeLibVersion.empty()) step(Put(key + "\\TypeLib", "Version", r.typeLibVersion));
        }
    }
    return hr;
}

HRESULT UnregisterClass(const ClassRegistration& r) {
    const std::string clsid = GuidToString(r.clsid);
    HRESULT hr = DeleteTree("CLSID\\" + clsid);
    auto step = [&](HRESULT h) {
        if (SUCCEEDED(hr) && FAILED(h)) hr = h;
    };
    step(DeleteProgId(r.progId, clsid));
    step(DeleteProgId(r.versionIndependentProgId, clsid));
    for (const auto& i : r.interfaces) step(DeleteTree("Interface\\" + GuidToString(i.iid)));
    return hr;
}

}  // namespace com
