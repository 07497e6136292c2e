#!/bin/sh
# Compares the pruned trees of two engine builds byte for byte: each generated data set
# is built at a few first rates and thread counts, then pruned again at many rates, and
# every tree is dumped by each build's engine_bench.
#
#   engine_compare.sh OLD_ENGINE_BENCH NEW_ENGINE_BENCH [WORK_FOLDER]
set -u
old=$1
new=$2
work=${3:-$(mktemp -d)}
mkdir -p "$work"
sets="50000,5,5,3,30,7 120000,8,6,8,10,3 200000,3,12,5,20,11 300000,10,10,3,5,1"
rates=1,2,5,8,10,13,17,20,25,30,33,37,40,45,50,55,60,62,66,70,75,80,85,88,90,92,95,97,99,100,12.5,0.5,3.3,75
same=0
differ=0
for set in $sets; do
    for first in 75 25; do
        for minitems in 2 5; do
            for threads in 1 3 8; do
                name="$work/$set-$first-$minitems-$threads"
                TESSARY_ENGINE_THREADS=$threads "$old" --generate "$set" --prune "$first" --minitems "$minitems" \
                    --reprune "$rates" --dump "$name.old" >/dev/null || exit 2
                TESSARY_ENGINE_THREADS=$threads "$new" --generate "$set" --prune "$first" --minitems "$minitems" \
                    --reprune "$rates" --dump "$name.new" >/dev/null || exit 2
                if cmp -s "$name.old" "$name.new"; then
                    same=$((same + 1))
                else
                    differ=$((differ + 1))
                    echo "DIFFER: data $set, first rate $first, minitems $minitems, threads $threads"
                fi
                rm -f "$name.old" "$name.new"
            done
        done
    done
done
echo "runs identical: $same, differing: $differ (each: 1 first pruning and 34 later ones)"
[ "$differ" = 0 ]
