#!/usr/bin/env bash
# The engine's tests under ThreadSanitizer: only the engine and what its tests need
# are built, in build-tsan.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
flags="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARY_GUI=OFF \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
  -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build build-tsan -j "$jobs" --target TRX32 engine_interface_tests engine_tree_tests engine_parallel_tests engine_prune_tests \
  engine_budget_tests
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
   ctest --output-on-failure -j "$jobs" -R '^Engine')
