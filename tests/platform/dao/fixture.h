// Scratch folders and small helpers shared by the database-layer tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "TempDir.h"
#include "dao/dao.h"

namespace daotest {

using testsupport::TempDir;

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
