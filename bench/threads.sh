#!/usr/bin/env bash
# Thread scaling of one varn-q27 binary on given files, wall seconds.
#
# Table mode (default): REPS rounds, each compressing and extracting every
# file at -j 1 and -j 2 (`/usr/bin/time -f "%e %M"`), then bzip2 -9 and,
# where installed, lbzip2 -n 2 the same way. Prints per file the median
# wall seconds and the peak resident memory of each, and whether the
# round trip gave the file back.
#
# Alternating mode (-a): REPS rounds of -j 1 then -j 2 back to back, one
# direction only (c or e), timed to the nanosecond; prints the medians and
# their ratio. Runs that follow each other closely meet the same load on
# a shared machine, so this is the steadier measure of the ratio.
#
# Usage: bench/threads.sh REPS BINARY FILE...
#        bench/threads.sh -a c|e REPS BINARY FILE...
set -euo pipefail

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ "${1:-}" = "-a" ]; then
    mode=$2 reps=$3 bin=$4
    shift 4
    for f in "$@"; do
        "$bin" -c "$f" -o "$work/src.vq" -j 2 >/dev/null
        : >"$work/raw"
        for _ in $(seq "$reps"); do
            for j in 1 2; do
                if [ "$mode" = c ]; then
                    cmd=("$bin" -c "$f" -o "$work/out.vq" -j "$j")
                else
                    cmd=("$bin" -e "$work/src.vq" -o "$work/out" -j "$j")
                fi
                t0=$(date +%s%N)
                "${cmd[@]}" >/dev/null
                t1=$(date +%s%N)
                echo "$j $(((t1 - t0) / 1000))" >>"$work/raw"
            done
        done
        m1=$(awk '$1 == 1 {print $2}' "$work/raw" | median)
        m2=$(awk '$1 == 2 {print $2}' "$work/raw" | median)
        awk -v f="$(basename "$f")" -v m=$mode -v a="$m1" -v b="$m2" \
            'BEGIN {printf "%s %s: -j 1 %.3f s, -j 2 %.3f s, ratio %.3f\n", f, m, a / 1e6, b / 1e6, b / a}'
    done
    exit 0
fi

reps=$1 bin=$2
shift 2
run() { /usr/bin/time -f "%e %M" "$@" 2>&1 >/dev/null | tail -1; }
peers="bzip2"
command -v lbzip2 >/dev/null && peers="bzip2 lbzip2"
for f in "$@"; do
    : >"$work/raw"
    bzip2 -9 -c "$f" >"$work/f.bz2"
    if [ "$peers" != bzip2 ]; then lbzip2 -9 -n 2 -c "$f" >"$work/f.lbz2"; fi
    for _ in $(seq "$reps"); do
        for j in 1 2; do
            echo "j$j c $(run "$bin" -c "$f" -o "$work/f.vq" -j "$j")" >>"$work/raw"
            echo "j$j e $(run "$bin" -e "$work/f.vq" -o "$work/f.out" -j "$j")" >>"$work/raw"
        done
        echo "bzip2 c $(run bzip2 -9 -c "$f")" >>"$work/raw"
        echo "bzip2 e $(run bzip2 -d -c "$work/f.bz2")" >>"$work/raw"
        if [ "$peers" != bzip2 ]; then
            echo "lbzip2 c $(run lbzip2 -9 -n 2 -c "$f")" >>"$work/raw"
            echo "lbzip2 e $(run lbzip2 -d -n 2 -c "$work/f.lbz2")" >>"$work/raw"
        fi
    done
    cmp -s "$work/f.out" "$f" && ok=ok || ok=FAILED
    line="$(basename "$f") (round trip $ok)"
    for k in "j1 c" "j2 c" "j1 e" "j2 e" "bzip2 c" "bzip2 e" "lbzip2 c" "lbzip2 e"; do
        grep -q "^$k " "$work/raw" || continue
        m=$(grep "^$k " "$work/raw" | awk '{print $3}' | median)
        p=$(grep "^$k " "$work/raw" | awk '{print $4}' | sort -g | tail -1)
        line="$line | $k $m s $((p / 1000)) MB"
    done
    echo "$line"
done
