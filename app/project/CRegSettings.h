// Per-user settings in the registry store, as text values under
// "Software\<Company>\<AppName>\<Section>" of the current user. Every
// operation swallows its errors.
#pragma once

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
    std::string mCompany = DefaultCompany;
    std::string mAppName = ProductName;
};
