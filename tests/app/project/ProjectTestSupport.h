// Shared fixtures of the project tests: a scratch folder per test, a
// headless application, and the scratch registry.
#pragma once

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace testsupport {

inline QApplication& App() {
    static int argc = 1;
    static char arg0[] = "tessary-test";
    static char* argv[] = {arg0, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// A folder of its own for each test, removed afterwards.
class TempDir {
public:
    TempDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = info ? std::string(info->test_suite_name()) + "_" + info->name() : "t";
        for (char& c : name)
            if (c == '/') c = '_';
        mPath = std::filesystem::temp_directory_path() /
                ("tessary-" + name + "-" + std::to_string(::getpid()) + "-" + std::to_string(++Counter()));
        std::filesystem::remove_all(mPath);
        std::filesystem::create_directories(mPath);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(mPath, ec);
    }
    std::string File(const std::string& name) const { return (mPath / name).string(); }
    const std::filesystem::path& Path() const { return mPath; }

private:
    static int& Counter() {
        static int n = 0;
        return n;
    }
    std::filesystem::path mPath;
};

// Points the current user's registry store at a file of this test program.
inline void UseScratchRegistry(const TempDir& dir) { ::setenv("TESSARY_REGISTRY", dir.File("user.reg").c_str(), 1); }

}  // namespace testsupport
