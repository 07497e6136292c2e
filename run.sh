#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tessary on the bundled sample project.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Only the program and the modules it loads; ./test.sh builds the tests and benches.
cmake --build build -j "$(nproc)" --target tessary
# The sample is opened from a working copy, so that the committed files stay
# as they are; the copy is refreshed when the sample is newer.
work=build/sample
mkdir -p "$work"
cp -u samples/iris.txp samples/iris.mdb "$work/"
exec build/bin/tessary "$PWD/$work/iris.txp"
