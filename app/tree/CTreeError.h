// Errors of the tree driver travel as the program's numbered runtime errors,
// so the trap that catches them shows the number and text they carry.
#pragma once

#include "AppErrors.h"

using CTreeError = app::RuntimeError;

namespace treeerr {
constexpr long kSubscript = 9;          // index out of range
constexpr long kTypeMismatch = 13;      // unpacking a damaged stored tree
constexpr long kObjectNotSet = 91;      // no project, engine or tree
constexpr long kNoKeyField = 3850;      // no key to match Test rows by (after the engine's 3840..3849)
constexpr long kTestRowMissing = 3851;  // a classified row's key found no row of Test
}  // namespace treeerr
