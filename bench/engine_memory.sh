#!/bin/sh
# Peak resident memory of one engine build for shapes whose tables, trees or pruning
# notes grow with the classes, each under a small TESSARY_ENGINE_MEMORY_MB (and with a
# 4.5 GB address-space cap, so that an engine that ignores its budget stops there).
#
#   engine_memory.sh ENGINE_BENCH [WORK_FOLDER]
set -u
bench=$1
work=${2:-$(mktemp -d)}
mkdir -p "$work"
python3 - "$work" <<'PY'
import random, sys
def write(name, header, rows):
    with open(sys.argv[1] + '/' + name, 'w') as f:
        f.write(','.join(header) + '\n')
        for r in rows: f.write(','.join(str(x) for x in r) + '\n')
# 300 values by 12,000 classes; each value's rows split again by a second input.
write('a.csv', ['v1', 'v2', 'c'], [((r // 2) % 300 + 1, (r // 600) * 7 % 300 + 1, r // 2) for r in range(24000)])
# One continuous input, 8,000 classes over 16,000 rows.
write('b.csv', ['x', 'c'], [(r, r // 2) for r in range(16000)])
# Three discrete inputs, 400 classes.
g = random.Random(3)
write('c.csv', ['v1', 'v2', 'v3', 'c'],
      [(g.randint(1, 40), g.randint(1, 40), g.randint(1, 40), (r * 13) % 400 if g.random() < 0.5 else g.randrange(400))
       for r in range(20000)])
# Two inputs of 40 values, one declared with 256 values of which 2 occur, 256 classes.
g = random.Random(4)
write('d.csv', ['v1', 'v2', 'v3', 'c'],
      [(g.randint(1, 40), g.randint(1, 40), g.choice((1, 256)), g.randrange(256)) for r in range(6400)])
PY
run() {  # name csv kinds budget threads
    result=$( (ulimit -v 4500000
        TESSARY_ENGINE_MEMORY_MB=$4 TESSARY_ENGINE_THREADS=$5 /usr/bin/time -f "peak %M KB, %e s" \
            "$bench" --csv "$work/$2" --kinds "$3" --prune 75 --minitems 2) 2>&1 | tail -3 | tr '\n' ' ')
    echo "$1 under $4 MB, $5 threads: $result"
}
run "300 values x 12,000 classes" a.csv 2,2,3 85 1
run "one continuous input, 8,000 classes" b.csv 0,3 16 8
run "three discrete inputs, 400 classes" c.csv 2,2,2,3 16 8
run "256 declared values, 2 present, 256 classes" d.csv 2,2,2,3 16 8
run "256 declared values, 2 present, 256 classes" d.csv 2,2,2,3 100000 8
