// Shared fixtures of the project tests: a scratch folder per test, a
// headless application, and the scratch registry.
#pragma once

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "TempDir.h"

namespace testsupport {

inline QApplication& App() {
    static int argc = 1;
    static char arg0[] = "tessary-test";
    static char* argv[] = {arg0, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

using testsupport::TempDir;

// Points the current user's registry store at a file of this test program.
inline void UseScratchRegistry(const TempDir& dir) { ::setenv("TESSARY_REGISTRY", dir.File("user.reg").c_str(), 1); }

}  // namespace testsupport
