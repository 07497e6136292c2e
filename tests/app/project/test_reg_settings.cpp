#include "CRegSettings.h"
#include "ProjectTestSupport.h"

#include "registry/registry.h"

namespace {

class RegSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::UseScratchRegistry(dir); }
    testsupport::TempDir dir;
};

TEST_F(RegSettingsTest, NamesAndKeyPaths) {
    CRegSettings s;
    EXPECT_EQ(s.Company(), "Tavrel");
    EXPECT_EQ(s.AppName(), "Tessary");
    s.SetCompany("  Acme ");
    EXPECT_EQ(s.Company(), "Acme");
    s.SetCompany("   ");
    EXPECT_EQ(s.Company(), "Tavrel");
    s.SetAppName(" Tool ");
    EXPECT_EQ(s.AppName(), "Tool");
    s.SetAppName("");
    EXPECT_EQ(s.AppName(), "Tessary");
    EXPECT_EQ(s.KeyPath("Config"), "Software\\Tavrel\\Tessary\\Config");
    EXPECT_EQ(s.KeyPath(""), "Software\\Tavrel\\Tessary");
}

TEST_F(RegSettingsTest, StoresTextValuesUnderTheUsersKey) {
    CRegSettings s;
    EXPECT_TRUE(s.SaveSetting("RecentFileList", "File1", "/home/u/a.txp"));
    std::string raw;
    ASSERT_TRUE(reg::GetString(HKEY_CURRENT_USER, "Software\\Tavrel\\Tessary\\RecentFileList", "File1", &raw));
    EXPECT_EQ(raw, "/home/u/a.txp");
    uint32_t type = 0;
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Tavrel\\Tessary\\RecentFileList", 0, KEY_READ, &k),
              ERROR_SUCCESS);
    uint32_t size = 0;
    ASSERT_EQ(RegQueryValueEx(k, "File1", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    RegCloseKey(k);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(s.GetSetting("RecentFileList", "File1", "x"), "/home/u/a.txp");
    EXPECT_EQ(s.GetSetting("RecentFileList", "File2", "x"), "x");
    EXPECT_EQ(s.GetSetting("NoSuchSection", "File1"), "");
}

TEST_F(RegSettingsTest, StarIsTheUnnamedValue) {
    CRegSettings s;
    EXPECT_TRUE(s.SaveSetting("Config", "*", "default"));
    std::string raw;
    ASSERT_TRUE(reg::GetString(HKEY_CURRENT_USER, s.KeyPath("Config"), "", &raw));
    EXPECT_EQ(raw, "default");
    EXPECT_EQ(s.GetSetting("Config", "*"), "default");
    EXPECT_TRUE(s.DeleteSetting("Config", std::string("*")));
    EXPECT_EQ(s.GetSetting("Config", "*", "gone"), "gone");
}

TEST_F(RegSettingsTest, EmptyValueReadsAsEmptyDeleteValueAndSection) {
    CRegSettings s;
    s.SaveSetting("Window", "FMainLeft", "");
    // The stored size is 1 (just the terminator): read back as empty text.
    EXPECT_EQ(s.GetSetting("Window", "FMainLeft", "d"), "");
    s.SaveSetting("Window", "FMainTop", "15");
    EXPECT_TRUE(s.DeleteSetting("Window", std::string("FMainTop")));
    EXPECT_FALSE(s.DeleteSetting("Window", std::string("FMainTop")));
    EXPECT_EQ(s.GetSetting("Window", "FMainTop", "none"), "none");
    s.SaveSetting("Window", "FMainWidth", "9000");
    EXPECT_TRUE(s.DeleteSetting("Window"));
    EXPECT_EQ(s.GetSetting("Window", "FMainWidth", "none"), "none");
    EXPECT_FALSE(s.DeleteSetting("Window"));
    // Another company's settings are apart.
    CRegSettings other;
    other.SetCompany("Other");
    other.SaveSetting("Config", "AutoLoad", "True");
    EXPECT_EQ(s.GetSetting("Config", "AutoLoad", "no"), "no");
}

}  // namespace
