#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tessary on the bundled sample project.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
program=build/bin/tessary
if [ ! -x "$program" ]; then
  echo "Tessary has no window yet: the engine, graph control and data layers are built, the program is not."
  exit 0
fi
# The program's own modules are registered in the build's class store.
export TESSARY_CLASSES="$PWD/build/classes.reg"
exec "$program" "$PWD/samples/iris.txp"
