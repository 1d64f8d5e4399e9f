#!/usr/bin/env bash
# Whole-program comparison of varn-q27 with bzip2 -9, xz -9 and zstd -19.
# varn-q27 runs with its default pipeline (distance coding) and, as the
# tools varn-q27-mtf-ad (-m), varn-q27-mtf-ad-norle (-m --norle0),
# varn-q27-mtf-st (-m -s) and varn-q27-mtf-st-norle (-m --norle0 -s), with
# the four move-to-front modes.
#
# Builds a Release varn-q27, then compresses and extracts every file of the
# standard corpora (Calgary, Canterbury, large Canterbury, artificial) and
# three generated 10 MiB files (the corpora concatenated, random bytes, one
# repeated byte) with each tool, in the same run. For every file and tool it
# prints the compressed size, bits per character, the median of REPS
# compression and extraction times (user + system CPU seconds, which a busy
# machine disturbs less than wall time), the peak resident memory of
# compression and of extraction, and whether the round trip gave the input
# back. Totals per corpus and for the 14 classic Calgary files follow.
#
# Each varn-q27 tool runs once per thread count in THREADS (its -j value;
# the threads column); lbzip2 and pbzip2, where installed and named in
# TOOLS, run with two threads. Times are CPU seconds (user + system) and,
# for the scaling that threads bring, wall seconds, both medians of REPS.
#
# Usage: bench/compare.sh [output.md]
# Environment: CORPUS (default ../shared/corpus next to the repository),
# BUILD (default build-bench), REPS (default 3), THREADS (default 1),
# TOOLS (default "varn-q27 varn-q27-mtf-ad varn-q27-mtf-ad-norle
# varn-q27-mtf-st varn-q27-mtf-st-norle bzip2 xz zstd"), SETS (default all:
# "calgary canterbury canterbury-large canterbury-artificial generated"),
# PIN (e.g. "taskset -c 0", put in front of every command).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
corpus=${CORPUS:-$repo/../shared/corpus}
build=${BUILD:-$repo/build-bench}
reps=${REPS:-3}
threadCounts=${THREADS:-1}
pin=${PIN:-}
tools=${TOOLS:-"varn-q27 varn-q27-mtf-ad varn-q27-mtf-ad-norle varn-q27-mtf-st varn-q27-mtf-st-norle bzip2 xz zstd"}
# Every varn-q27 tool once per thread count: "varn-q27@2" runs with -j 2.
expanded=""
for t in $tools; do
  if [[ $t == varn-q27* ]]; then
    for j in $threadCounts; do expanded+=" $t@$j"; done
  else
    expanded+=" $t"
  fi
done
tools=$expanded
report=${1:-/dev/null}

[ -d "$corpus" ] || { echo "no corpus at $corpus" >&2; exit 1; }
for t in cc bc python3; do command -v $t >/dev/null || { echo "needs $t" >&2; exit 1; }; done
for t in $tools; do
  [[ $t == varn-q27* ]] || command -v "$t" >/dev/null || { echo "missing $t" >&2; exit 1; }
done
toolName() { echo "${1%@*}"; }
toolThreads() { if [[ $1 == *@* ]]; then echo "${1#*@}"; elif [[ $1 == lbzip2 || $1 == pbzip2 ]]; then echo 2; else echo 1; fi; }

echo "building Release varn-q27 in $build" >&2
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARN_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target varn-q27 >/dev/null
varn=$build/varn-q27

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Generated inputs, the same bytes on every run.
gen=$work/generated
mkdir -p "$gen"
size10=10485760
corpusFiles=$(find "$corpus" -type f ! -name README.md | sort)
: > "$gen/mixed-text-10MiB"
while [ "$(stat -c %s "$gen/mixed-text-10MiB")" -lt $size10 ]; do
  # shellcheck disable=SC2086
  cat $corpusFiles >> "$gen/mixed-text-10MiB"
done
truncate -s $size10 "$gen/mixed-text-10MiB"
python3 -c "import random,sys; r=random.Random(27); sys.stdout.buffer.write(r.randbytes($size10))" > "$gen/random-10MiB"
head -c $size10 /dev/zero | tr '\0' 'a' > "$gen/one-byte-10MiB"
# The set "four-blocks" (only when named in SETS): one 40 MiB file of four
# 10 MiB blocks, text and random bytes in turn, for scaling over blocks.
if [[ " ${SETS:-} " == *" four-blocks "* ]]; then
  mkdir -p "$work/four-blocks"
  cat "$gen/mixed-text-10MiB" "$gen/random-10MiB" "$gen/mixed-text-10MiB" "$gen/random-10MiB" \
    > "$work/four-blocks/text-random-40MiB"
fi

# compress/extract command lines per tool: $1 input, $2 output.
compressCmd() {
  local j
  j=$(toolThreads "$1")
  case $(toolName "$1") in
    varn-q27) echo "$pin $varn -c $2 -o $3 -j $j" ;;
    varn-q27-mtf-ad) echo "$pin $varn -c $2 -o $3 -m -j $j" ;;
    varn-q27-mtf-ad-norle) echo "$pin $varn -c $2 -o $3 -m --norle0 -j $j" ;;
    varn-q27-mtf-st) echo "$pin $varn -c $2 -o $3 -m -s -j $j" ;;
    varn-q27-mtf-st-norle) echo "$pin $varn -c $2 -o $3 -m --norle0 -s -j $j" ;;
    bzip2) echo "$pin bzip2 -9 -c $2" ;;
    lbzip2) echo "$pin lbzip2 -9 -n 2 -c $2" ;;
    pbzip2) echo "$pin pbzip2 -9 -p2 -c $2" ;;
    xz) echo "$pin xz -9 -c $2" ;;
    zstd) echo "$pin zstd -19 -q -c $2" ;;
  esac
}
extractCmd() {
  local j
  j=$(toolThreads "$1")
  case $(toolName "$1") in
    varn-q27*) echo "$pin $varn -e $2 -o $3 -j $j" ;;
    bzip2) echo "$pin bzip2 -d -c $2" ;;
    lbzip2) echo "$pin lbzip2 -d -n 2 -c $2" ;;
    pbzip2) echo "$pin pbzip2 -d -p2 -c $2" ;;
    xz) echo "$pin xz -d -c $2" ;;
    zstd) echo "$pin zstd -d -q -c $2" ;;
  esac
}

# Runs a command REPS times with its standard output in a file and prints
# "median-cpu-seconds peak-kB". A small C runner waits for the command with
# wait4, which gives its CPU time to the microsecond and its own peak
# resident memory (GNU time rounds to hundredths; a runner in a scripting
# language would lend the command its own memory image through fork).
cat > "$work/runner.c" <<'EOF'
#include <fcntl.h>
#include <stdio.h>
#include <time.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
int main(int argc, char** argv)
{
    if (argc < 3) return 2;
    struct timespec t0, t1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || dup2(fd, 1) < 0) _exit(127);
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status;
    struct rusage r;
    if (pid < 0 || wait4(pid, &status, 0, &r) != pid) return 2;
    clock_gettime(CLOCK_MONOTONIC, &t1);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "%s failed\n", argv[2]);
        return 1;
    }
    printf("%.4f %ld %.4f\n", r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6,
           r.ru_maxrss, (t1.tv_sec - t0.tv_sec) + (t1.tv_nsec - t0.tv_nsec) / 1e9);
    return 0;
}
EOF
cc -O2 -o "$work/runner" "$work/runner.c"
# Prints "median-cpu peak-kB median-wall".
timed() {
  local out=$1 cmd=$2 times=() walls=() peak=0 i t m w
  for ((i = 0; i < reps; i++)); do
    # shellcheck disable=SC2086
    read -r t m w < <("$work/runner" "$out" $cmd)
    times+=("$t")
    walls+=("$w")
    [ "$m" -gt "$peak" ] && peak=$m
  done
  printf '%s\n' "${times[@]}" | sort -g | sed -n "$(((reps + 1) / 2))p" | tr '\n' ' '
  echo -n "$peak "
  printf '%s\n' "${walls[@]}" | sort -g | sed -n "$(((reps + 1) / 2))p"
}

declare -A totalSize totalC totalD calgary14
classic14=" bib book1 book2 geo news obj1 obj2 paper1 paper2 pic progc progl progp trans "
header="| set | file | bytes | tool | threads | compressed | bpc | compress s | extract s | compress wall s | extract wall s | peak MB c/d | round trip |"
{
  echo "$header"
  echo "|---|---|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|---|"
} | tee "$report"

run() {
  local set=$1 file=$2 name bytes tool packed back c d size ok
  name=$(basename "$file")
  bytes=$(stat -c %s "$file")
  for tool in $tools; do
    packed=$work/packed back=$work/back
    # varn-q27 writes its file itself; its console lines go to the scratch file.
    if [[ $tool == varn-q27* ]]; then
      read -r c cpeak cw < <(timed "$work/console" "$(compressCmd "$tool" "$file" "$packed")")
      read -r d dpeak dw < <(timed "$work/console" "$(extractCmd "$tool" "$packed" "$back")")
    else
      read -r c cpeak cw < <(timed "$packed" "$(compressCmd "$tool" "$file" "$packed")")
      read -r d dpeak dw < <(timed "$back" "$(extractCmd "$tool" "$packed" "$back")")
    fi
    size=$(stat -c %s "$packed")
    if cmp -s "$file" "$back"; then ok=ok; else ok=DIFFERS; fi
    printf '| %s | %s | %d | %s | %s | %d | %.3f | %.3f | %.3f | %.3f | %.3f | %d / %d | %s |\n' "$set" "$name" \
      "$bytes" "$(toolName "$tool")" "$(toolThreads "$tool")" "$size" "$(echo "$size * 8 / $bytes" | bc -l)" \
      "$c" "$d" "$cw" "$dw" $((cpeak / 1024)) $((dpeak / 1024)) "$ok" | tee -a "$report"
    totalSize[$set,$tool]=$(( ${totalSize[$set,$tool]:-0} + size ))
    totalC[$set,$tool]=$(echo "${totalC[$set,$tool]:-0} + $c" | bc)
    totalD[$set,$tool]=$(echo "${totalD[$set,$tool]:-0} + $d" | bc)
    if [ "$set" = calgary ] && [[ $classic14 == *" $name "* ]]; then
      calgary14[size,$tool]=$(( ${calgary14[size,$tool]:-0} + size ))
      calgary14[c,$tool]=$(echo "${calgary14[c,$tool]:-0} + $c" | bc)
      calgary14[d,$tool]=$(echo "${calgary14[d,$tool]:-0} + $d" | bc)
    fi
  done
}

sets=${SETS:-"calgary canterbury canterbury-large canterbury-artificial generated"}
declare -A setBytes
for set in $sets; do
  dir=$corpus/$set
  [ "$set" = generated ] && dir=$gen
  [ "$set" = four-blocks ] && dir=$work/four-blocks
  [ -d "$dir" ] || continue
  setBytes[$set]=0
  for f in $(find "$dir" -type f ! -name README.md | sort); do
    run "$set" "$f"
    setBytes[$set]=$(( ${setBytes[$set]} + $(stat -c %s "$f") ))
  done
done

{
  echo
  echo "| set | bytes | tool | compressed | bpc | compress s | extract s |"
  echo "|---|---:|---|---:|---:|---:|---:|"
  for set in $sets; do
    [ -n "${setBytes[$set]:-}" ] || continue
    for tool in $tools; do
      printf '| %s | %d | %s | %d | %.3f | %.3f | %.3f |\n' "$set" "${setBytes[$set]}" "$tool" \
        "${totalSize[$set,$tool]}" "$(echo "${totalSize[$set,$tool]} * 8 / ${setBytes[$set]}" | bc -l)" \
        "${totalC[$set,$tool]}" "${totalD[$set,$tool]}"
    done
  done
  if [ -n "${calgary14[size,varn-q27@${threadCounts%% *}]:-}" ]; then
    echo
    echo "14 classic Calgary files (published bzip2 -9 total: 828,347 bytes):"
    echo
    echo "| tool | compressed | compress s | extract s | compress time / bzip2 | extract time / bzip2 |"
    echo "|---|---:|---:|---:|---:|---:|"
    for tool in $tools; do
      rc=-; rd=-
      if [ -n "${calgary14[c,bzip2]:-}" ] && [ "$(echo "${calgary14[c,bzip2]} > 0 && ${calgary14[d,bzip2]} > 0" | bc)" = 1 ]; then
        rc=$(printf '%.2f' "$(echo "${calgary14[c,$tool]} / ${calgary14[c,bzip2]}" | bc -l)")
        rd=$(printf '%.2f' "$(echo "${calgary14[d,$tool]} / ${calgary14[d,bzip2]}" | bc -l)")
      fi
      printf '| %s | %d | %.3f | %.3f | %s | %s |\n' "$tool" "${calgary14[size,$tool]}" "${calgary14[c,$tool]}" \
        "${calgary14[d,$tool]}" "$rc" "$rd"
    done
  fi
} | tee -a "$report"
