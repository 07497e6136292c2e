#!/usr/bin/env bash
# Starts the program under Xvfb on a working copy of the sample project, walks
# what it shows (main window, menus, preferences, about, the progress window
# of a statistics run, the extraction road with its flow chart, rule tree,
# matrix, test rows (also at 800 x 600) and live prediction, the closed
# project, then a new project's table, field and row-range steps, an imported
# table's wide flow chart zoomed in twice, and the matrix of a new project
# whose 21 classes do not fit) and writes PNGs to build/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build -j8 --target tessary tessary_screens >/dev/null
out="$PWD/build/screenshots"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
cp samples/iris.txp samples/iris.mdb tests/data/access/nwind.mdb "$work/"
chmod u+w "$work"/*
# A scratch settings store, so that the user's own settings stay untouched.
export TESSARY_REGISTRY="$work/user.reg"
export XDG_RUNTIME_DIR="$work/runtime"
export TESSARY_CACHE="$work/cache"
mkdir -m 700 "$XDG_RUNTIME_DIR"
# One ODBC data source over the sample's data, for the data-source chooser.
driver=$(ls /usr/lib/*/odbc/libsqlite3odbc.so 2>/dev/null | head -1 || true)
if [ -n "$driver" ]; then
  printf '[iris sample]\nDriver=%s\nDatabase=%s\n' "$driver" "$work/iris.mdb" > "$work/odbc.ini"
  export ODBCINI="$work/odbc.ini" ODBCSYSINI="$work"
fi
xvfb-run -a -s "-screen 0 1280x800x24" build/bin/tessary_screens "$out" "$work/iris.txp"
