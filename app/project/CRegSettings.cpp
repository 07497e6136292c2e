#include "CRegSettings.h"
#include "ErrorGuard.h"

#include "registry/registry.h"
#include "ui/dialogs.h"

#include <vector>

namespace {

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// "*" names the key's unnamed default value.
const char* ValueName(const std::string& key) { return key == "*" ? "" : key.c_str(); }

}  // namespace

void CRegSettings::SetCompany(const std::string& company) {
    mCompany = Trim(company);
    if (mCompany.empty()) mCompany = DefaultCompany;
}

void CRegSettings::SetAppName(const std::string& appName) {
    mAppName = Trim(appName);
    if (mAppName.empty()) mAppName = ProductName;
}

std::string CRegSettings::KeyPath(const std::string& section) const {
    std::string path = "Software\\" + mCompany + "\\" + mAppName;
    if (!section.empty()) path += "\\" + section;
    return path;
}

bool CRegSettings::Changed(int32_t rc) {
    if (rc == ERROR_LOCK_VIOLATION && !mToldLocked.exchange(true))
        ui::MsgBox(QStringLiteral("Another program holds the lock on the settings file ") +
                       QString::fromStdString(reg::StorePath(HKEY_CURRENT_USER)) +
                       QStringLiteral(". Settings were read as they stand; changes to them are not saved while "
                                      "it holds the lock."),
                   ui::Buttons::OK, ui::Icon::Exclamation, QString::fromStdString(mAppName));
    return rc == ERROR_SUCCESS;
}

bool CRegSettings::SaveSetting(const std::string& section, const std::string& key, const std::string& value) {
    return base::RecordErrors("CRegSettings::SaveSetting", [&] {
        HKEY k = nullptr;
        uint32_t disposition = 0;
        int32_t rc = RegCreateKeyEx(HKEY_CURRENT_USER, KeyPath(section).c_str(), REG_OPTION_NON_VOLATILE,
                                    KEY_ALL_ACCESS, &k, &disposition);
        if (rc == ERROR_SUCCESS) {
            rc = RegSetValueEx(k, ValueName(key), 0, REG_SZ, value.c_str(), uint32_t(value.size() + 1));
            RegCloseKey(k);
        }
        return Changed(rc);
    });
}

std::string CRegSettings::GetSetting(const std::string& section, const std::string& key,
                                     const std::string& defaultValue) const {
    std::string result = defaultValue;
    try {
        HKEY k = nullptr;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, KeyPath(section).c_str(), 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS)
            return result;
        uint32_t type = 0, size = 0;
        if (RegQueryValueEx(k, ValueName(key), nullptr, &type, nullptr, &size) == ERROR_SUCCESS && size >= 1) {
            std::vector<char> buffer(size);
            if (RegQueryValueEx(k, ValueName(key), nullptr, &type, buffer.data(), &size) == ERROR_SUCCESS &&
                (type == REG_SZ || type == REG_EXPAND_SZ)) {
                result.assign(buffer.data(), size);
                // Up to the terminating zero.
                const auto nul = result.find('\0');
                if (nul != std::string::npos) result.resize(nul);
            }
        }
        RegCloseKey(k);
    } catch (...) {
        // Not readable: the default.
        base::RecordCaught("CRegSettings::GetSetting");
    }
    return result;
}

bool CRegSettings::DeleteSetting(const std::string& section, const std::optional<std::string>& key) {
    return base::RecordErrors("CRegSettings::DeleteSetting", [&] {
        HKEY k = nullptr;
        if (key && !key->empty()) {
            if (RegOpenKeyEx(HKEY_CURRENT_USER, KeyPath(section).c_str(), 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS)
                return false;
            const int32_t rc = RegDeleteValue(k, ValueName(*key));
            RegCloseKey(k);
            return Changed(rc);
        }
        if (RegOpenKeyEx(HKEY_CURRENT_USER, KeyPath("").c_str(), 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS)
            return false;
        const int32_t rc = RegDeleteTree(k, section.c_str());
        RegCloseKey(k);
        return Changed(rc);
    });
}
