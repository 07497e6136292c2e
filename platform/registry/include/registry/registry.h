// The per-user registry store: keys with typed values, kept in files that are
// replaced atomically (temporary file, fsync, rename), so a crash leaves the old
// or the new content. Shaped after the classic registry calls so that code written
// against them reads the same. Key paths use '\' as separator and compare
// case-insensitively (ASCII); value names likewise. Names and strings are UTF-8.
//
// Where the roots live:
//   HKEY_CURRENT_USER  -> $TESSARY_REGISTRY, else $XDG_CONFIG_HOME/tessary/user.reg
//                         (~/.config when XDG_CONFIG_HOME is unset)
//   HKEY_CLASSES_ROOT  -> $TESSARY_CLASSES, else $XDG_CONFIG_HOME/tessary/classes.reg
//   HKEY_LOCAL_MACHINE -> served from the HKEY_CURRENT_USER file (single-user system)
// A store file that cannot be parsed is renamed aside (suffix ".damaged-<time>")
// and the root starts empty; it is never silently overwritten.
// Another process may hold a store's lock file ("<file>.lock") for long: reads do
// not wait for it, and a change gives up after a short wait with
// ERROR_LOCK_VIOLATION, leaving the file as it was.
#pragma once

#include <cstdint>
#include <string>

struct RegKeyHandle;
using HKEY = RegKeyHandle*;

HKEY RegRootClassesRoot();
HKEY RegRootCurrentUser();
HKEY RegRootLocalMachine();
#define HKEY_CLASSES_ROOT (RegRootClassesRoot())
#define HKEY_CURRENT_USER (RegRootCurrentUser())
#define HKEY_LOCAL_MACHINE (RegRootLocalMachine())

constexpr int32_t ERROR_SUCCESS = 0;
constexpr int32_t ERROR_FILE_NOT_FOUND = 2;
constexpr int32_t ERROR_ACCESS_DENIED = 5;
constexpr int32_t ERROR_INVALID_HANDLE = 6;
constexpr int32_t ERROR_OUTOFMEMORY = 14;
constexpr int32_t ERROR_LOCK_VIOLATION = 33;
constexpr int32_t ERROR_INVALID_PARAMETER = 87;
constexpr int32_t ERROR_MORE_DATA = 234;
constexpr int32_t ERROR_NO_MORE_ITEMS = 259;
constexpr int32_t ERROR_BADDB = 1009;
constexpr int32_t ERROR_CANTWRITE = 1013;
constexpr int32_t ERROR_KEY_DELETED = 1018;

constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_EXPAND_SZ = 2;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;

constexpr uint32_t KEY_QUERY_VALUE = 0x0001;
constexpr uint32_t KEY_SET_VALUE = 0x0002;
constexpr uint32_t KEY_READ = 0x20019;
constexpr uint32_t KEY_WRITE = 0x20006;
constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;
constexpr uint32_t REG_OPTION_NON_VOLATILE = 0;
constexpr uint32_t REG_CREATED_NEW_KEY = 1;
constexpr uint32_t REG_OPENED_EXISTING_KEY = 2;

// All calls return ERROR_SUCCESS or an error code above; none throws.
// subKey may be empty/null (opens the same key again).
int32_t RegCreateKeyEx(HKEY key, const char* subKey, uint32_t options, uint32_t access, HKEY* result,
                       uint32_t* disposition);
int32_t RegOpenKeyEx(HKEY key, const char* subKey, uint32_t options, uint32_t access, HKEY* result);
int32_t RegCloseKey(HKEY key);  // roots may be "closed" harmlessly
// name null or "" is the unnamed default value. REG_SZ data includes its terminating NUL
// in size (as written by callers); a value read back as REG_SZ always ends with NUL.
int32_t RegSetValueEx(HKEY key, const char* name, uint32_t reserved, uint32_t type, const void* data,
                      uint32_t size);
// data may be null to ask the size. Too small a buffer: ERROR_MORE_DATA with *size set.
int32_t RegQueryValueEx(HKEY key, const char* name, uint32_t* reserved, uint32_t* type, void* data,
                        uint32_t* size);
int32_t RegDeleteValue(HKEY key, const char* name);
// Deletes subKey of key together with all its subkeys.
int32_t RegDeleteTree(HKEY key, const char* subKey);
// Deletes a subkey that has no subkeys of its own (ERROR_ACCESS_DENIED otherwise).
int32_t RegDeleteKey(HKEY key, const char* subKey);
// Enumeration in name order (case-insensitive). ERROR_NO_MORE_ITEMS past the end.
int32_t RegEnumKey(HKEY key, uint32_t index, std::string* name);
int32_t RegEnumValue(HKEY key, uint32_t index, std::string* name, uint32_t* type = nullptr);

namespace reg {
// Conveniences over the calls above.
bool GetString(HKEY root, const std::string& keyPath, const std::string& valueName, std::string* out);
bool SetString(HKEY root, const std::string& keyPath, const std::string& valueName, const std::string& value);
bool GetDword(HKEY root, const std::string& keyPath, const std::string& valueName, uint32_t* out);
bool SetDword(HKEY root, const std::string& keyPath, const std::string& valueName, uint32_t value);
// The file that backs a root (after environment overrides).
std::string StorePath(HKEY root);
}  // namespace reg
