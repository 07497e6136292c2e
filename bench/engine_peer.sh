#!/bin/sh
# The engine against its peer on the same rows, in one run: a ROWS x 20 table (10
# continuous and 10 discrete inputs, 3 classes, 5 % unknown) is written as CSV once,
# then built by engine_bench (the machine's threads, or TESSARY_ENGINE_THREADS) and
# fitted by sklearn_peer.py in turn. Prints each one's wall time and peak resident
# memory, and the engine's over the peer's.
#
#   engine_peer.sh ENGINE_BENCH [ROWS] [WORK_FOLDER]
set -u
bench=$1
rows=${2:-1000000}
work=${3:-$(mktemp -d)}
here=$(dirname "$0")
mkdir -p "$work"
csv="$work/rows-$rows.csv"
kinds=0,0,0,0,0,0,0,0,0,0,2,2,2,2,2,2,2,2,2,2,3
[ -s "$csv" ] || "$bench" --generate "$rows,10,10,3,5,1" --save "$csv" || exit 2
measure() {  # label command...: "label SECONDS KB"
    label=$1
    shift
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/$label.out" 2>&1 || { cat "$work/$label.out"; exit 2; }
    echo "$label $(cat "$work/time")"
}
engine=$(measure engine "$bench" --csv "$csv" --kinds "$kinds" --prune 75 --minitems 2)
peer=$(measure peer "$here/sklearn_peer.py" "$csv")
echo "$engine" "$peer" | awk -v rows="$rows" '{
    printf "rows %d x 20\n", rows
    printf "engine: %7.2f s, peak %6.0f MB\n", $2, $3 / 1024
    printf "peer:   %7.2f s, peak %6.0f MB\n", $5, $6 / 1024
    printf "engine / peer: time %.2f, peak %.2f\n", $2 / $5, $3 / $6
}'
sed -n 's/^/  engine: /p' "$work/engine.out"
sed -n 's/^/  peer: /p' "$work/peer.out"
