#include "registry/registry.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "store.h"

using reg::detail::Key;
using reg::detail::Store;
using reg::detail::StoreFor;
using reg::detail::Value;

namespace {

enum class Root { None, Classes, CurrentUser, LocalMachine };

constexpr uint32_t kMagic = 0x52454B59;  // catches stale or foreign handles early
constexpr uint32_t kMaxValueName = 16383;
constexpr uint32_t kMaxData = 16u << 20;

}  // namespace

struct RegKeyHandle {
    uint32_t magic = kMagic;
    Root root = Root::None;      // set for the predefined roots only
    std::string storePath;       // subkey handles: the store they were opened in
    std::vector<std::string> path;
};

namespace {


std::string ConfigDir() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg) return std::string(xdg) + "/tessary";
    const char* home = std::getenv("HOME");
    std::string h;
    if (home && *home) {
        h = home;
    } else {
        struct passwd pw, *result = nullptr;
        char buf[4096];
        if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &result) == 0 && result) h = result->pw_dir;
        else h = "/tmp";
    }
    return h + "/.config/tessary";
}

// Roots resolve their file at every call, so a test that points the environment
// at a scratch file is served from it at once.
std::string RootPath(Root root) {
    const char* var = root == Root::Classes ? "TESSARY_CLASSES" : "TESSARY_REGISTRY";
    const char* v = std::getenv(var);
    if (v && *v) return v;
    return ConfigDir() + (root == Root::Classes ? "/classes.reg" : "/user.reg");
}

bool Valid(HKEY key) { return key && key->magic == kMagic; }

std::string StorePathOf(HKEY key) { return key->root != Root::None ? RootPath(key->root) : key->storePath; }

// Full path of subKey below key. False for an over-long segment or a path too deep.
bool Resolve(HKEY key, const char* subKey, std::vector<std::string>* out) {
    std::vector<std::string> rel;
    if (!reg::detail::SplitPath(subKey, &rel)) return false;
    *out = key->path;
    out->insert(out->end(), rel.begin(), rel.end());
    return out->size() <= reg::detail::kMaxDepth;
}

std::string NameOf(const char* name) { return name ? std::string(name) : std::string(); }

// The key a handle names, or null when it has been deleted since it was opened.
const Key* KeyOf(const Key& root, HKEY key) { return root.Find(key->path, key->path.size()); }
Key* KeyOf(Key& root, HKEY key) { return root.Find(key->path, key->path.size()); }

}  // namespace

// Function-local, so that roots work from other libraries' static initialisers.
HKEY RegRootClassesRoot() {
    static RegKeyHandle root{kMagic, Root::Classes, {}, {}};
    return &root;
}
HKEY RegRootCurrentUser() {
    static RegKeyHandle root{kMagic, Root::CurrentUser, {}, {}};
    return &root;
}
HKEY RegRootLocalMachine() {
    static RegKeyHandle root{kMagic, Root::LocalMachine, {}, {}};
    return &root;
}

int32_t RegCreateKeyEx(HKEY key, const char* subKey, uint32_t, uint32_t, HKEY* result, uint32_t* disposition) {
    if (!Valid(key) || !result) return !result ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE;
    *result = nullptr;
    std::vector<std::string> path;
    if (!Resolve(key, subKey, &path)) return ERROR_INVALID_PARAMETER;
    std::string storePath = StorePathOf(key);
    bool created = false;
    int32_t rc = StoreFor(storePath).Modify([&](Key& root, bool* changed) {
        Key* k = KeyOf(root, key);
        if (!k) return ERROR_KEY_DELETED;
        for (size_t i = key->path.size(); i < path.size(); ++i) {
            auto& slot = k->subkeys[path[i]];
            if (!slot) {
                slot = std::make_unique<Key>();
                created = true;
            }
            k = slot.get();
        }
        *changed = created;
        return ERROR_SUCCESS;
    });
    if (rc != ERROR_SUCCESS) return rc;
    *result = new RegKeyHandle{kMagic, Root::None, storePath, std::move(path)};
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

int32_t RegOpenKeyEx(HKEY key, const char* subKey, uint32_t, uint32_t, HKEY* result) {
    if (!Valid(key) || !result) return !result ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE;
    *result = nullptr;
    std::vector<std::string> path;
    if (!Resolve(key, subKey, &path)) return ERROR_FILE_NOT_FOUND;
    std::string storePath = StorePathOf(key);
    int32_t rc = StoreFor(storePath).Read([&](const Key& root) {
        if (!KeyOf(root, key)) return ERROR_KEY_DELETED;
        return root.Find(path, path.size()) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
    if (rc != ERROR_SUCCESS) return rc;
    *result = new RegKeyHandle{kMagic, Root::None, storePath, std::move(path)};
    return ERROR_SUCCESS;
}

int32_t RegCloseKey(HKEY key) {
    if (!Valid(key)) return ERROR_INVALID_HANDLE;
    if (key->root != Root::None) return ERROR_SUCCESS;
    key->magic = 0;
    delete key;
    return ERROR_SUCCESS;
}

int32_t RegSetValueEx(HKEY key, const char* name, uint32_t, uint32_t type, const void* data, uint32_t size) {
    if (!Valid(key)) return ERROR_INVALID_HANDLE;
    if ((!data && size) || size > kMaxData) return ERROR_INVALID_PARAMETER;
    std::string n = NameOf(name);
    if (n.size() > kMaxValueName) return ERROR_INVALID_PARAMETER;
    if (type == REG_DWORD && size != 4) return ERROR_INVALID_PARAMETER;
    Value v{type, std::string(static_cast<const char*>(data), data ? size : 0)};
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && !v.data.empty() && v.data.back() == '\0')
        v.data.pop_back();
    return StoreFor(StorePathOf(key)).Modify([&](Key& root, bool* changed) {
        Key* k = KeyOf(root, key);
        if (!k) return ERROR_KEY_DELETED;
        auto it = k->values.find(n);
        if (it != k->values.end() && it->second.type == v.type && it->second.data == v.data) return ERROR_SUCCESS;
        if (it != k->values.end()) k->values.erase(it);  // a rewrite takes the new spelling of the name
        k->values.emplace(n, v);
        *changed = true;
        return ERROR_SUCCESS;
    });
}

int32_t RegQueryValueEx(HKEY key, const char* name, uint32_t*, uint32_t* type, void* data, uint32_t* size) {
    if (!Valid(key)) return ERROR_INVALID_HANDLE;
    if (data && !size) return ERROR_INVALID_PARAMETER;
    std::string n = NameOf(name);
    return StoreFor(StorePathOf(key)).Read([&](const Key& root) {
        const Key* k = KeyOf(root, key);
        if (!k) return ERROR_KEY_DELETED;
        auto it = k->values.find(n);
        if (it == k->values.end()) return ERROR_FILE_NOT_FOUND;
        const Value& v = it->second;
        bool text = v.type == REG_SZ || v.type == REG_EXPAND_SZ;
        uint32_t need = uint32_t(v.data.size() + (text ? 1 : 0));
        if (type) *type = v.type;
        if (!data) {
            if (size) *size = need;
            return ERROR_SUCCESS;
        }
        if (*size < need) {
            *size = need;
            return ERROR_MORE_DATA;
        }
        if (!v.data.empty()) std::memcpy(data, v.data.data(), v.data.size());
        if (text) static_cast<char*>(data)[v.data.size()] = '\0';
        *size = need;
        return ERROR_SUCCESS;
    });
}

int32_t RegDeleteValue(HKEY key, const char* name) {
    if (!Valid(key)) return ERROR_INVALID_HANDLE;
    std::string n = NameOf(name);
    return StoreFor(StorePathOf(key)).Modify([&](Key& root, bool* changed) {
        Key* k = KeyOf(root, key);
        if (!k) return ERROR_KEY_DELETED;
        if (k->values.erase(n) == 0) return ERROR_FILE_NOT_FOUND;
        *changed = true;
        return ERROR_SUCCESS;
    });
}

namespace {

// Deletes the key at `path` (relative segments below `key`). With no segments the
// key itself is meant: a tree delete then empties it, a plain delete removes it.
int32_t DeleteKey(HKEY key, const char* subKey, bool tree) {
    if (!Valid(key)) return ERROR_INVALID_HANDLE;
    std::vector<std::string> path;
    if (!Resolve(key, subKey, &path)) return ERROR_FILE_NOT_FOUND;
    return StoreFor(StorePathOf(key)).Modify([&](Key& root, bool* changed) {
        if (!KeyOf(root, key)) return ERROR_KEY_DELETED;
        if (path.empty()) {
            // A root itself: only its content can go.
            if (!tree) return ERROR_ACCESS_DENIED;
            *changed = !root.values.empty() || !root.subkeys.empty();
            root = Key();
            return ERROR_SUCCESS;
        }
        if (tree && path.size() == key->path.size()) {
            Key* k = KeyOf(root, key);
            *changed = !k->values.empty() || !k->subkeys.empty();
            k->values.clear();
            k->subkeys.clear();
            return ERROR_SUCCESS;
        }
        Key* parent = root.Find(path, path.size() - 1);
        if (!parent) return ERROR_FILE_NOT_FOUND;
        auto it = parent->subkeys.find(path.back());
        if (it == parent->subkeys.end()) return ERROR_FILE_NOT_FOUND;
        if (!tree && !it->second->subkeys.empty()) return ERROR_ACCESS_DENIED;
        parent->subkeys.erase(it);
        *changed = true;
        return ERROR_SUCCESS;
    });
}

}  // namespace

int32_t RegDeleteTree(HKEY key, const char* subKey) { return DeleteKey(key, subKey, true); }
int32_t RegDeleteKey(HKEY key, const char* subKey) { return DeleteKey(key, subKey, false); }

int32_t RegEnumKey(HKEY key, uint32_t index, std::string* name) {
    if (!Valid(key)) return ERROR_INVALID_HANDLE;
    if (!name) return ERROR_INVALID_PARAMETER;
    return StoreFor(StorePathOf(key)).Read([&](const Key& root) {
        const Key* k = KeyOf(root, key);
        if (!k) return ERROR_KEY_DELETED;
        if (index >= k->subkeys.size()) return ERROR_NO_MORE_ITEMS;
        auto it = k->subkeys.begin();
        std::advance(it, index);
        *name = it->first;
        return ERROR_SUCCESS;
    });
}

int32_t RegEnumValue(HKEY key, uint32_t index, std::string* name, uint32_t* type) {
    if (!Valid(key)) return ERROR_INVALID_HANDLE;
    if (!name) return ERROR_INVALID_PARAMETER;
    return StoreFor(StorePathOf(key)).Read([&](const Key& root) {
        const Key* k = KeyOf(root, key);
        if (!k) return ERROR_KEY_DELETED;
        if (index >= k->values.size()) return ERROR_NO_MORE_ITEMS;
        auto it = k->values.begin();
        std::advance(it, index);
        *name = it->first;
        if (type) *type = it->second.type;
        return ERROR_SUCCESS;
    });
}

namespace reg {

bool GetString(HKEY root, const std::string& keyPath, const std::string& valueName, std::string* out) {
    HKEY k = nullptr;
    if (RegOpenKeyEx(root, keyPath.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    uint32_t type = 0, size = 0;
    bool ok = RegQueryValueEx(k, valueName.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
              (type == REG_SZ || type == REG_EXPAND_SZ);
    if (ok) {
        std::string buf(size, '\0');
        ok = RegQueryValueEx(k, valueName.c_str(), nullptr, &type, buf.data(), &size) == ERROR_SUCCESS &&
             (type == REG_SZ || type == REG_EXPAND_SZ);
        if (ok && out) {
            buf.resize(size ? size - 1 : 0);
            *out = std::move(buf);
        }
    }
    RegCloseKey(k);
    return ok;
}

bool SetString(HKEY root, const std::string& keyPath, const std::string& valueName, const std::string& value) {
    HKEY k = nullptr;
    if (RegCreateKeyEx(root, keyPath.c_str(), 0, KEY_WRITE, &k, nullptr) != ERROR_SUCCESS) return false;
    bool ok = RegSetValueEx(k, valueName.c_str(), 0, REG_SZ, value.c_str(), uint32_t(value.size() + 1)) ==
              ERROR_SUCCESS;
    RegCloseKey(k);
    return ok;
}

bool GetDword(HKEY root, const std::string& keyPath, const std::string& valueName, uint32_t* out) {
    HKEY k = nullptr;
    if (RegOpenKeyEx(root, keyPath.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    uint32_t type = 0, value = 0, size = sizeof value;
    bool ok = RegQueryValueEx(k, valueName.c_str(), nullptr, &type, &value, &size) == ERROR_SUCCESS &&
              type == REG_DWORD && size == sizeof value;
    if (ok && out) *out = value;
    RegCloseKey(k);
    return ok;
}

bool SetDword(HKEY root, const std::string& keyPath, const std::string& valueName, uint32_t value) {
    HKEY k = nullptr;
    if (RegCreateKeyEx(root, keyPath.c_str(), 0, KEY_WRITE, &k, nullptr) != ERROR_SUCCESS) return false;
    bool ok = RegSetValueEx(k, valueName.c_str(), 0, REG_DWORD, &value, sizeof value) == ERROR_SUCCESS;
    RegCloseKey(k);
    return ok;
}

std::string StorePath(HKEY root) { return Valid(root) ? StorePathOf(root) : std::string(); }

}  // namespace reg
