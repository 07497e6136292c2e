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
# The program works on a copy of the sample project, so samples/ stays as committed.
work=build/sample
mkdir -p "$work"
for f in iris.txp iris.mdb iris.csv; do
  [ -e "$work/$f" ] || cp "samples/$f" "$work/$f"
done
exec "$program" "$PWD/$work/iris.txp"
