// Keys, values, enumeration and deletion in one store file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "HeldLock.h"
#include "SmallDisk.h"
#include "registry/registry.h"
#include "test_util.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> DamagedCopies(const std::string& dir, const std::string& base) {
    std::vector<std::string> out;
    for (auto& e : std::filesystem::directory_iterator(dir)) {
        std::string name = e.path().filename().string();
        if (name.rfind(base + ".damaged-", 0) == 0) out.push_back(e.path().string());
    }
    return out;
}

class RegistryTest : public ::testing::Test {
protected:
    testutil::TempDir dir;
    testutil::ScopedEnv user{"TESSARY_REGISTRY", dir.File("user.reg")};
    testutil::ScopedEnv classes{"TESSARY_CLASSES", dir.File("classes.reg")};

    HKEY Create(const char* path, uint32_t* disposition = nullptr) {
        HKEY k = nullptr;
        EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, path, 0, KEY_ALL_ACCESS, &k, disposition), ERROR_SUCCESS);
        return k;
    }
    std::vector<std::string> Keys(HKEY k) {
        std::vector<std::string> out;
        std::string name;
        for (uint32_t i = 0; RegEnumKey(k, i, &name) == ERROR_SUCCESS; ++i) out.push_back(name);
        return out;
    }
    std::vector<std::string> Values(HKEY k) {
        std::vector<std::string> out;
        std::string name;
        for (uint32_t i = 0; RegEnumValue(k, i, &name) == ERROR_SUCCESS; ++i) out.push_back(name);
        return out;
    }
};

TEST_F(RegistryTest, StringsDwordsAndTheDefaultValue) {
    uint32_t disp = 0;
    HKEY k = Create("Software\\Tavrel\\Tessary\\Settings", &disp);
    EXPECT_EQ(disp, REG_CREATED_NEW_KEY);
    const char text[] = "C:\\Projects\\iris.txp";
    ASSERT_EQ(RegSetValueEx(k, "LastFile", 0, REG_SZ, text, sizeof text), ERROR_SUCCESS);
    uint32_t n = 42;
    ASSERT_EQ(RegSetValueEx(k, "Count", 0, REG_DWORD, &n, 4), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(k, nullptr, 0, REG_SZ, "default", 8), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(k, "NoNul", 0, REG_SZ, "abc", 3), ERROR_SUCCESS);
    const unsigned char blob[] = {0, 1, 0xFF, '\n', '\t', '%'};
    ASSERT_EQ(RegSetValueEx(k, "Blob", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
    RegCloseKey(k);

    HKEY r = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "software\\TAVREL\\tessary\\settings", 0, KEY_READ, &r), ERROR_SUCCESS);
    uint32_t type = 0, size = 0;
    ASSERT_EQ(RegQueryValueEx(r, "lastfile", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, sizeof text);
    char buf[64];
    uint32_t small = 5;
    EXPECT_EQ(RegQueryValueEx(r, "LastFile", nullptr, &type, buf, &small), ERROR_MORE_DATA);
    EXPECT_EQ(small, sizeof text);
    size = sizeof buf;
    ASSERT_EQ(RegQueryValueEx(r, "LastFile", nullptr, &type, buf, &size), ERROR_SUCCESS);
    EXPECT_STREQ(buf, text);
    size = sizeof buf;
    ASSERT_EQ(RegQueryValueEx(r, "NoNul", nullptr, &type, buf, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);  // terminated on the way out
    EXPECT_STREQ(buf, "abc");
    size = sizeof buf;
    ASSERT_EQ(RegQueryValueEx(r, "", nullptr, &type, buf, &size), ERROR_SUCCESS);
    EXPECT_STREQ(buf, "default");
    size = sizeof buf;
    ASSERT_EQ(RegQueryValueEx(r, "Blob", nullptr, &type, buf, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(std::string(buf, size), std::string(reinterpret_cast<const char*>(blob), sizeof blob));
    EXPECT_EQ(RegQueryValueEx(r, "Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    RegCloseKey(r);

    uint32_t got = 0;
    EXPECT_TRUE(reg::GetDword(HKEY_CURRENT_USER, "Software\\Tavrel\\Tessary\\Settings", "Count", &got));
    EXPECT_EQ(got, 42u);
    std::string s;
    EXPECT_FALSE(reg::GetString(HKEY_CURRENT_USER, "Software\\Tavrel\\Tessary\\Settings", "Count", &s));
    EXPECT_FALSE(reg::GetDword(HKEY_CURRENT_USER, "Software\\Tavrel\\Tessary\\Settings", "LastFile", &got));

    // Opening an existing key through create says so.
    k = Create("Software\\Tavrel", &disp);
    EXPECT_EQ(disp, REG_OPENED_EXISTING_KEY);
    RegCloseKey(k);
}

TEST_F(RegistryTest, BadArgumentsAreRefused) {
    HKEY k = Create("A");
    uint16_t two = 2;
    EXPECT_EQ(RegSetValueEx(k, "D", 0, REG_DWORD, &two, 2), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueEx(k, "D", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueEx(nullptr, "D", 0, REG_SZ, "x", 2), ERROR_INVALID_HANDLE);
    HKEY out = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Nope\\Deeper", 0, KEY_READ, &out), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(out, nullptr);
    std::string longName(300, 'x');
    EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, longName.c_str(), 0, 0, &out, nullptr), ERROR_INVALID_PARAMETER);
    uint32_t size = 4;
    char buf[4];
    EXPECT_EQ(RegQueryValueEx(k, "D", nullptr, nullptr, buf, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueEx(k, "D", nullptr, nullptr, buf, &size), ERROR_FILE_NOT_FOUND);
    RegCloseKey(k);
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);  // roots close harmlessly
    EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryTest, EnumerationIsInNameOrderIgnoringCase) {
    HKEY k = Create("Root");
    for (const char* name : {"beta", "Alpha", "gamma", "Delta"}) {
        HKEY sub = nullptr;
        ASSERT_EQ(RegCreateKeyEx(k, name, 0, 0, &sub, nullptr), ERROR_SUCCESS);
        RegCloseKey(sub);
        ASSERT_EQ(RegSetValueEx(k, name, 0, REG_SZ, "x", 2), ERROR_SUCCESS);
    }
    ASSERT_EQ(RegSetValueEx(k, "", 0, REG_SZ, "d", 2), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(k, "ALPHA", 0, REG_DWORD, "\1\0\0\0", 4), ERROR_SUCCESS);  // same value, new spelling
    EXPECT_EQ(Keys(k), (std::vector<std::string>{"Alpha", "beta", "Delta", "gamma"}));
    EXPECT_EQ(Values(k), (std::vector<std::string>{"", "ALPHA", "beta", "Delta", "gamma"}));
    std::string name;
    uint32_t type = 0;
    ASSERT_EQ(RegEnumValue(k, 1, &name, &type), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(RegEnumKey(k, 4, &name), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegEnumValue(k, 5, &name), ERROR_NO_MORE_ITEMS);
    RegCloseKey(k);
}

TEST_F(RegistryTest, DeletingValuesKeysAndTrees) {
    HKEY k = Create("Top\\Mid\\Leaf");
    RegCloseKey(k);
    k = Create("Top");
    ASSERT_EQ(RegSetValueEx(k, "v", 0, REG_SZ, "1", 2), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValue(k, "V"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValue(k, "v"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKey(k, "Mid"), ERROR_ACCESS_DENIED);  // has a subkey
    EXPECT_EQ(RegDeleteKey(k, "Mid\\Leaf"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKey(k, "Mid\\Leaf"), ERROR_FILE_NOT_FOUND);
    HKEY deep = Create("Top\\Mid\\A\\B\\C");
    EXPECT_EQ(RegDeleteTree(HKEY_CURRENT_USER, "top\\mid"), ERROR_SUCCESS);
    EXPECT_EQ(Keys(k), std::vector<std::string>{});
    // A handle to a deleted key says so instead of writing into nowhere.
    EXPECT_EQ(RegSetValueEx(deep, "x", 0, REG_SZ, "1", 2), ERROR_KEY_DELETED);
    HKEY sub = nullptr;
    EXPECT_EQ(RegCreateKeyEx(deep, "D", 0, 0, &sub, nullptr), ERROR_KEY_DELETED);
    RegCloseKey(deep);
    EXPECT_EQ(RegDeleteTree(HKEY_CURRENT_USER, "Top\\Missing"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(k);
}

TEST_F(RegistryTest, RootsAndTheirFiles) {
    EXPECT_EQ(reg::StorePath(HKEY_CURRENT_USER), dir.File("user.reg"));
    EXPECT_EQ(reg::StorePath(HKEY_LOCAL_MACHINE), dir.File("user.reg"));
    EXPECT_EQ(reg::StorePath(HKEY_CLASSES_ROOT), dir.File("classes.reg"));
    ASSERT_TRUE(reg::SetString(HKEY_CLASSES_ROOT, "CLSID\\{X}", "", "class"));
    ASSERT_TRUE(reg::SetString(HKEY_LOCAL_MACHINE, "Software\\M", "v", "machine"));
    std::string s;
    EXPECT_FALSE(reg::GetString(HKEY_CURRENT_USER, "CLSID\\{X}", "", &s));
    EXPECT_TRUE(reg::GetString(HKEY_CURRENT_USER, "Software\\M", "v", &s));  // one file for both
    EXPECT_EQ(s, "machine");
    EXPECT_NE(ReadFile(dir.File("classes.reg")).find("CLSID"), std::string::npos);

    // Without overrides the stores live under the configuration folder.
    ::unsetenv("TESSARY_REGISTRY");
    ::unsetenv("TESSARY_CLASSES");
    {
        testutil::ScopedEnv xdg("XDG_CONFIG_HOME", dir.File("config"));
        EXPECT_EQ(reg::StorePath(HKEY_CURRENT_USER), dir.File("config") + "/tessary/user.reg");
        EXPECT_EQ(reg::StorePath(HKEY_CLASSES_ROOT), dir.File("config") + "/tessary/classes.reg");
        // Reading a store that does not exist creates nothing.
        EXPECT_FALSE(reg::GetString(HKEY_CURRENT_USER, "A", "b", &s));
        EXPECT_FALSE(std::filesystem::exists(dir.File("config")));
        ASSERT_TRUE(reg::SetString(HKEY_CURRENT_USER, "A", "b", "c"));
        EXPECT_TRUE(std::filesystem::exists(dir.File("config") + "/tessary/user.reg"));
    }
    {
        ::unsetenv("XDG_CONFIG_HOME");
        testutil::ScopedEnv home("HOME", dir.File("home"));
        EXPECT_EQ(reg::StorePath(HKEY_CURRENT_USER), dir.File("home") + "/.config/tessary/user.reg");
    }
}

TEST_F(RegistryTest, NamesAndDataWithAnyCharactersSurviveTheFile) {
    std::string name = "tab\there%20 new\nline \xE2\x82\xAC";
    std::string data = std::string("embedded\0nul\ttab\r\n%41", 21);
    HKEY k = Create(("Odd key %41 \xC3\xA9" "\\" + std::string("x y")).c_str());
    ASSERT_EQ(RegSetValueEx(k, name.c_str(), 0, REG_SZ, data.data(), uint32_t(data.size())), ERROR_SUCCESS);
    RegCloseKey(k);
    std::string text = ReadFile(dir.File("user.reg"));
    // Re-read from another file with the same bytes.
    std::ofstream(dir.File("copy.reg"), std::ios::binary) << text;
    testutil::ScopedEnv other("TESSARY_REGISTRY", dir.File("copy.reg"));
    HKEY r = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "odd KEY %41 \xC3\xA9\\X Y", 0, KEY_READ, &r), ERROR_SUCCESS);
    char buf[64];
    uint32_t size = sizeof buf, type = 0;
    ASSERT_EQ(RegQueryValueEx(r, name.c_str(), nullptr, &type, buf, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(buf, size - 1), data);
    RegCloseKey(r);
}

TEST_F(RegistryTest, DamagedFilesAreSetAsideNotOverwritten) {
    const std::string garbage = "\x01\x02 this is not a store \xFF\n";
    std::ofstream(dir.File("user.reg"), std::ios::binary) << garbage;
    std::string s;
    HKEY k = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "A", 0, KEY_READ, &k), ERROR_BADDB);
    auto aside = DamagedCopies(dir.Path().string(), "user.reg");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(ReadFile(aside[0]), garbage);
    EXPECT_FALSE(std::filesystem::exists(dir.File("user.reg")));
    // The store starts empty and works.
    ASSERT_TRUE(reg::SetString(HKEY_CURRENT_USER, "A", "b", "c"));
    ASSERT_TRUE(reg::GetString(HKEY_CURRENT_USER, "A", "b", &s));
    EXPECT_EQ(s, "c");
}

TEST_F(RegistryTest, TruncatedFilesAreDamagedAtEveryCut) {
    for (int i = 0; i < 20; ++i) {
        std::string key = "Key" + std::to_string(i);
        ASSERT_TRUE(reg::SetString(HKEY_CLASSES_ROOT, key, "value", std::string(i, 'v')));
    }
    const std::string full = ReadFile(dir.File("classes.reg"));
    ASSERT_GT(full.size(), 100u);
    for (size_t cut = 1; cut < full.size(); cut += 7) {
        SCOPED_TRACE(cut);
        std::filesystem::remove(dir.File("cut.reg"));
        for (auto& f : DamagedCopies(dir.Path().string(), "cut.reg")) std::filesystem::remove(f);
        std::ofstream(dir.File("cut.reg"), std::ios::binary) << full.substr(0, cut);
        testutil::ScopedEnv env("TESSARY_CLASSES", dir.File("cut.reg"));
        // A write is refused too: nothing may replace the damaged file silently.
        EXPECT_FALSE(reg::SetString(HKEY_CLASSES_ROOT, "New", "v", "x"));
        auto aside = DamagedCopies(dir.Path().string(), "cut.reg");
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(ReadFile(aside[0]), full.substr(0, cut));
    }
}

TEST_F(RegistryTest, APathThatIsNotAFileIsLeftAlone) {
    std::filesystem::create_directory(dir.File("folder.reg"));
    std::ofstream(dir.File("folder.reg") + "/keep.txt") << "mine";
    testutil::ScopedEnv env("TESSARY_REGISTRY", dir.File("folder.reg"));
    EXPECT_FALSE(reg::SetString(HKEY_CURRENT_USER, "A", "b", "c"));
    HKEY k = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "A", 0, KEY_READ, &k), ERROR_BADDB);
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("folder.reg")));
    EXPECT_TRUE(std::filesystem::exists(dir.File("folder.reg") + "/keep.txt"));
    EXPECT_TRUE(DamagedCopies(dir.Path().string(), "folder.reg").empty());
}

TEST_F(RegistryTest, MangledFilesNeverCrashTheReader) {
    ASSERT_TRUE(reg::SetString(HKEY_CLASSES_ROOT, "A\\B", "name", "text value"));
    ASSERT_TRUE(reg::SetDword(HKEY_CLASSES_ROOT, "A", "n", 7));
    const std::string good = ReadFile(dir.File("classes.reg"));
    std::mt19937 rng(7);
    int parsed = 0, damaged = 0;
    for (int round = 0; round < 300; ++round) {
        std::string bytes = good;
        for (int flips = 1 + round % 4; flips > 0; --flips)
            bytes[std::uniform_int_distribution<size_t>(0, bytes.size() - 1)(rng)] = char(rng() & 0xFF);
        std::string path = dir.File("m" + std::to_string(round) + ".reg");
        std::ofstream(path, std::ios::binary) << bytes;
        testutil::ScopedEnv env("TESSARY_CLASSES", path);
        HKEY k = nullptr;
        int32_t rc = RegOpenKeyEx(HKEY_CLASSES_ROOT, "A", 0, KEY_READ, &k);
        if (rc == ERROR_SUCCESS) {
            ++parsed;
            std::string name;
            for (uint32_t i = 0; RegEnumValue(k, i, &name) == ERROR_SUCCESS; ++i) {
            }
            RegCloseKey(k);
        } else if (rc == ERROR_BADDB) {
            ++damaged;
            EXPECT_EQ(DamagedCopies(dir.Path().string(), "m" + std::to_string(round) + ".reg").size(), 1u);
        } else {
            EXPECT_EQ(rc, ERROR_FILE_NOT_FOUND) << "round " << round;
        }
    }
    EXPECT_GT(damaged, 200);  // nearly every flip breaks the format and is noticed
}

TEST_F(RegistryTest, AnEmptyFileIsAnEmptyStore) {
    std::ofstream(dir.File("user.reg")).close();
    std::string s;
    HKEY k = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "A", 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(DamagedCopies(dir.Path().string(), "user.reg").empty());
    EXPECT_TRUE(reg::SetString(HKEY_CURRENT_USER, "A", "", "x"));
}

// Another process holding a store's lock for long, for the user's settings and
// for the class store alike: reads go on at once with the file as it stands; a
// change gives up after a short wait, later ones sooner, and nothing is written.
TEST_F(RegistryTest, ALockHeldByAnotherProcessNeverHangs) {
    using Clock = std::chrono::steady_clock;
    const auto since = [](Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); };
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_CLASSES_ROOT}) {
        const std::string file = reg::StorePath(root);
        SCOPED_TRACE(file);
        ASSERT_TRUE(reg::SetString(root, "Software\\Kept", "v", "before"));
        const std::string before = ReadFile(file);
        testsupport::HeldLock other(file + ".lock", 20);
        if (!other.Held()) GTEST_SKIP() << other.Why();
        Clock::time_point t = Clock::now();
        std::string s;
        HKEY k = nullptr;
        ASSERT_EQ(RegOpenKeyEx(root, "Software\\Kept", 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
        EXPECT_TRUE(reg::GetString(root, "Software\\Kept", "v", &s));
        EXPECT_EQ(s, "before");
        EXPECT_LT(since(t), 0.5);
        t = Clock::now();
        EXPECT_EQ(RegSetValueEx(k, "v", 0, REG_SZ, "after", 6), ERROR_LOCK_VIOLATION);
        EXPECT_GT(since(t), 1.5);
        EXPECT_LT(since(t), 3.0);
        t = Clock::now();
        EXPECT_EQ(RegDeleteValue(k, "v"), ERROR_LOCK_VIOLATION);
        EXPECT_EQ(RegDeleteTree(root, "Software"), ERROR_LOCK_VIOLATION);
        EXPECT_FALSE(reg::SetString(root, "Software\\New", "v", "x"));
        EXPECT_LT(since(t), 1.0);
        EXPECT_EQ(ReadFile(file), before);
        // Once the other lets go, changes are made again at once.
        other.Release();
        t = Clock::now();
        EXPECT_EQ(RegSetValueEx(k, "v", 0, REG_SZ, "after", 6), ERROR_SUCCESS);
        // No lock wait (2 s); the write's own syncs may take a while on a busy disk.
        EXPECT_LT(since(t), 1.5);
        EXPECT_TRUE(reg::GetString(root, "Software\\Kept", "v", &s));
        EXPECT_EQ(s, "after");
        RegCloseKey(k);
    }
}

TEST_F(RegistryTest, UnwritableFolderGivesAnError) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
    std::filesystem::create_directory(dir.File("ro"));
    std::filesystem::permissions(dir.File("ro"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    testutil::ScopedEnv env("TESSARY_REGISTRY", dir.File("ro") + "/user.reg");
    EXPECT_FALSE(reg::SetString(HKEY_CURRENT_USER, "A", "b", "c"));
    std::filesystem::permissions(dir.File("ro"), std::filesystem::perms::owner_all);
}

}  // namespace

TEST_F(RegistryTest, AWriteThatWouldPassTheReadersLimitIsRefused) {
    HKEY k = Create("Software\\Tavrel\\Tessary\\Big");
    // Each value is within the writer's own limit; the two together would make
    // a file past the reader's.
    const std::string blob(16u << 20, '\x5A');
    ASSERT_EQ(RegSetValueEx(k, "One", 0, REG_BINARY, blob.data(), uint32_t(blob.size())), ERROR_SUCCESS);
    const std::string before = ReadFile(dir.File("user.reg"));
    // The second would make a file the reader calls damaged: refused, nothing changed.
    EXPECT_EQ(RegSetValueEx(k, "Two", 0, REG_BINARY, blob.data(), uint32_t(blob.size())), ERROR_CANTWRITE);
    EXPECT_EQ(ReadFile(dir.File("user.reg")), before);
    EXPECT_EQ(Values(k), (std::vector<std::string>{"One"}));
    RegCloseKey(k);

    // The setting kept reads back whole and nothing was set aside.
    HKEY again = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Tavrel\\Tessary\\Big", 0, KEY_READ, &again), ERROR_SUCCESS);
    uint32_t size = 0;
    EXPECT_EQ(RegQueryValueEx(again, "One", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, blob.size());
    EXPECT_TRUE(DamagedCopies(dir.Path().string(), "user.reg").empty());
    RegCloseKey(again);
}

TEST_F(RegistryTest, KeysNestedTooDeepAreRefusedAndSuchFilesSetAside) {
    // 512 levels are allowed; one more below them, by a handle, is not.
    std::string path512 = "Software";
    for (int i = 1; i < 512; ++i) path512 += "\\k";
    HKEY k = Create(path512.c_str());
    ASSERT_NE(k, nullptr);
    HKEY sub = nullptr;
    EXPECT_EQ(RegCreateKeyEx(k, "k", 0, KEY_ALL_ACCESS, &sub, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(sub, nullptr);
    RegCloseKey(k);
    std::string deep(200000, 'a');
    for (size_t i = 1; i < deep.size(); i += 2) deep[i] = '\\';
    HKEY none = nullptr;
    EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, deep.c_str(), 0, KEY_ALL_ACCESS, &none, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, deep.c_str(), 0, KEY_READ, &none), ERROR_FILE_NOT_FOUND);

    // A damaged file 300,000 levels deep is set aside, not followed.
    std::string path;
    for (int i = 0; i < 300000; ++i) path += i ? "\\k" : "k";
    {
        std::ofstream out(dir.File("user.reg"), std::ios::binary | std::ios::trunc);
        out << "TESSARY-REGISTRY 1\nK\t" << path << "\nV\tx\t4\t01000000\nEND\t2\n";
    }
    HKEY root = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "k", 0, KEY_READ, &root), ERROR_BADDB);
    EXPECT_EQ(DamagedCopies(dir.Path().string(), "user.reg").size(), 1u);
    HKEY fresh = Create("Software\\After");
    RegCloseKey(fresh);
}

// The store on a full disk: the write is refused, the file and what it holds
// stay as they were, and no part-written copy is left beside it.
TEST(RegistryFullDisk, AWriteWithoutRoomIsRefusedAndChangesNothing) {
    testsupport::SmallDisk disk(256 << 10);
    if (!disk.Ready()) GTEST_SKIP() << disk.Why();
    testutil::ScopedEnv user("TESSARY_REGISTRY", disk.File("user.reg"));
    ASSERT_TRUE(reg::SetString(HKEY_CURRENT_USER, "Software\\Tavrel\\Tessary\\Config", "Kept", "yes"));
    const std::string before = ReadFile(disk.File("user.reg"));
    disk.LeaveFree(4 << 10);
    EXPECT_FALSE(reg::SetString(HKEY_CURRENT_USER, "Software\\Tavrel\\Tessary\\Config", "Big", std::string(64 << 10, 'b')));
    disk.Unfill();
    EXPECT_EQ(ReadFile(disk.File("user.reg")), before);
    std::string value;
    EXPECT_FALSE(reg::GetString(HKEY_CURRENT_USER, "Software\\Tavrel\\Tessary\\Config", "Big", &value));
    EXPECT_TRUE(reg::GetString(HKEY_CURRENT_USER, "Software\\Tavrel\\Tessary\\Config", "Kept", &value));
    EXPECT_EQ(value, "yes");
    EXPECT_FALSE(std::filesystem::exists(disk.File("user.reg.tmp")));
}
