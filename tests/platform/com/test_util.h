// Scratch folders and environment overrides for tests that touch stores.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "TempDir.h"

namespace testutil {

using testsupport::TempDir;

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = ::getenv(name)) {
            had_ = true;
            old_ = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (had_) ::setenv(name_, old_.c_str(), 1);
        else ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

}  // namespace testutil
