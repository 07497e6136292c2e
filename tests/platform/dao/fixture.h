// Scratch folders and small helpers shared by the database-layer tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "dao/dao.h"

namespace daotest {

// A fresh folder per test, removed afterwards; unique across parallel runs.
class TempDir {
public:
    TempDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("dao-") + (info ? info->test_suite_name() : "x") + "-" +
                           (info ? info->name() : "y") + "-" + std::to_string(::getpid());
        path_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline com::Variant S(const std::string& s) { return com::Variant::Str(s); }
inline com::Variant L(int32_t v) { return com::Variant::I4(v); }

// Runs f and returns the DAO error number it raised (0 when none).
template <class F>
long ErrorOf(F&& f) {
    try {
        f();
    } catch (const dao::DaoError& e) {
        return e.Number();
    }
    return 0;
}

}  // namespace daotest
