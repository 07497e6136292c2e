// Per-user settings in the registry store, as text values under
// "Software\<Company>\<AppName>\<Section>" of the current user. Every
// operation swallows its errors. While another process holds the store's lock
// settings are read as they stand and changes are not saved; the first change
// that finds it so says it in a message box, once for the life of the object.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

class CRegSettings {
public:
    static constexpr const char* DefaultCompany = "Tavrel";
    static constexpr const char* ProductName = "Tessary";

    const std::string& Company() const { return mCompany; }
    void SetCompany(const std::string& company);  // trimmed; "Tavrel" when empty
    const std::string& AppName() const { return mAppName; }
    void SetAppName(const std::string& appName);  // trimmed; the product name when empty

    // key "*" is the key's unnamed default value.
    std::string GetSetting(const std::string& section, const std::string& key,
                           const std::string& defaultValue = {}) const;
    bool SaveSetting(const std::string& section, const std::string& key, const std::string& value);
    // Without key, deletes the whole section.
    bool DeleteSetting(const std::string& section, const std::optional<std::string>& key = std::nullopt);

    std::string KeyPath(const std::string& section) const;

private:
    bool Changed(int32_t rc);  // rc of a change: true on success; tells of a busy lock once

    std::atomic<bool> mToldLocked{false};
    std::string mCompany = DefaultCompany;
    std::string mAppName = ProductName;
};
