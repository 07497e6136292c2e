// A scratch folder of its own for each test, removed afterwards: named after the
// test, the process and a counter, so that parallel runs and several folders of
// one test never meet.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace testsupport {

class TempDir {
public:
    TempDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = info ? std::string(info->test_suite_name()) + "_" + info->name() : "t";
        for (char& c : name)
            if (c == '/') c = '_';
        static int counter = 0;
        mPath = std::filesystem::temp_directory_path() /
                ("tessary-" + name + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        std::filesystem::remove_all(mPath);
        std::filesystem::create_directories(mPath);
    }
    ~TempDir() {
        std::error_code ec;
        // A test may have taken the write right away to see a failure.
        std::filesystem::permissions(mPath, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(mPath, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string File(const std::string& name) const { return (mPath / name).string(); }
    const std::filesystem::path& Path() const { return mPath; }

private:
    std::filesystem::path mPath;
};

}  // namespace testsupport
