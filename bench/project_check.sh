#!/bin/sh
# The compiler session against the compiler alone (not a test: figures only).
#
# 1. Folder: `kvx go DIR --inline` in mode auto over the corpus files of
#    bench/corpus_files.txt copied into one folder, against one
#    `tsc --noEmit` over the same files copied to .ts (same flags).
# 2. One file: `kvx auto --inline FILE` against one `tsc --noEmit` on it.
# Prints both times, their ratios (targets: 2x for the folder, 1.5x for one
# file) and the compiler process's memory after each check and at its peak.
# The machine's load (one-minute average) is printed at the start and end,
# and the CPU seconds of each side's best run beside its time: on a busy
# machine the CPU ratio moves less than the time ratio.
#
#   bench/project_check.sh [--kvx PATH] [--modules DIR] [--work DIR]
#                          [--skip-above BYTES] [--file TEXT] [--repeat N]
#
# --modules     the corpus packages (default .ci/corpus/node_modules; install
#               them with .ci/corpus.sh)
# --skip-above  files above BYTES are left out of both sides (default
#               2000000: the compiler needs minutes and gigabytes for them)
# --file        the corpus line of the one-file run (default "semver.js")
# --repeat      runs of each side of the folder, the best counting (default 3)
#
# KVX_CHECK_THREADS=1 in the environment keeps the compiler session to one
# thread (the sources' own errors then checked in the main program).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
kvx="$root/build/kvx"
modules="$root/.ci/corpus/node_modules"
work="$root/build/project-check"
tools="$root/.ci/tools/node_modules"
skip_above=2000000
one_file="classes/semver.js"
repeat=3
while [ $# -gt 0 ]; do
  case "$1" in
    --kvx) kvx=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift ;;
    --modules) modules=$(cd "$2" && pwd); shift ;;
    --work) mkdir -p "$2" && work=$(cd "$2" && pwd); shift ;;
    --skip-above) skip_above="$2"; shift ;;
    --file) one_file="$2"; shift ;;
    --repeat) repeat="$2"; shift ;;
    *) echo "project_check: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
[ -x "$kvx" ] || { echo "project_check: no kvx at $kvx (build it first)" >&2; exit 1; }
[ -d "$modules" ] || { echo "project_check: no corpus at $modules (run .ci/corpus.sh)" >&2; exit 1; }
[ -e "$tools/typescript/bin/tsc" ] || { echo "project_check: run .ci/install-node-tools.sh" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work/kvx/proj" "$work/tsc/proj" "$work/one"
ln -s "$tools" "$work/kvx/node_modules"
ln -s "$tools" "$work/tsc/node_modules"
ln -s "$tools" "$work/one/node_modules"

# The files, each below a folder named after its package.
count=0
grep -v '^#' "$root/bench/corpus_files.txt" | awk 'NF { print $1, $2 }' | while read -r package file; do
  name=${package%@*}
  source="$modules/$name/$file"
  [ "$name" = typescript ] && source="$tools/typescript/$file"
  [ -f "$source" ] || { echo "  missing: $name/$file" >&2; continue; }
  [ "$(wc -c < "$source")" -le "$skip_above" ] || { echo "  left out (large): $name/$file"; continue; }
  target="$name/${file%.js}"
  mkdir -p "$work/kvx/proj/$(dirname "$target")" "$work/tsc/proj/$(dirname "$target")"
  cp "$source" "$work/kvx/proj/$target.js"
  cp "$source" "$work/tsc/proj/$target.ts"
done
count=$(find "$work/kvx/proj" -name '*.js' | wc -l)

now() { date +%s.%N; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
least() { tr ' ' '\n' | awk 'NF && (m == "" || $1 < m) { m = $1 } END { print m }'; }
tsc_flags="--noEmit --target ES2020 --module commonjs --esModuleInterop --types node --strict false --skipLibCheck"
# GNU time gives the compiler's own peak memory, the project's measure,
# and each side's CPU seconds (user + system, with the processes it waited for).
timed=""
kvx_timed=""
if [ -x /usr/bin/time ] && /usr/bin/time -f %M true > /dev/null 2>&1; then
  timed="/usr/bin/time -f %M\n%U+%S -o $work/tsc/rss.txt"
  kvx_timed="/usr/bin/time -f %U+%S -o $work/kvx/cpu.txt"
fi
cpu_of() { tail -n 1 "$1" 2>/dev/null | awk -F+ '{ printf "%.1f", $1 + $2 }'; }
load() { cut -d ' ' -f 1 /proc/loadavg 2>/dev/null || echo "?"; }
load_start=$(load)

# Folder: the two sides one after the other, --repeat times; the machine
# may be busy, so the best time of each side counts.
mkdir -p "$work/kvx/.kvx" && echo auto > "$work/kvx/.kvx/mode.txt"
tsc_times=""
kvx_times=""
tsc_best=""
kvx_best=""
tsc_cpu=""
kvx_cpu=""
tsc_rss=0
i=0
while [ "$i" -lt "$repeat" ]; do
  i=$((i + 1))
  cd "$work/tsc"
  start=$(now)
  # shellcheck disable=SC2046,SC2086  # the file list and the flags, one word each
  $timed node node_modules/typescript/bin/tsc $tsc_flags $(find proj -name '*.ts') > tsc.out 2>&1 || true
  took=$(awk -v s="$start" -v e="$(now)" 'BEGIN { print e - s }')
  if [ -z "$tsc_best" ] || awk -v a="$took" -v b="$tsc_best" 'BEGIN { exit !(a < b) }'; then
    tsc_best=$took
    tsc_cpu=$(cpu_of rss.txt)
    tsc_rss=$(tail -n 2 rss.txt 2>/dev/null | head -n 1)
  fi
  tsc_times="$tsc_times $took"
  cd "$work/kvx"
  rm -rf generated dist session.log
  start=$(now)
  KVX_CHECK_LOG="$work/kvx/session.log" $kvx_timed "$kvx" go proj --inline --report report.json > kvx.out 2>&1 || true
  took=$(awk -v s="$start" -v e="$(now)" 'BEGIN { print e - s }')
  if [ -z "$kvx_best" ] || awk -v a="$took" -v b="$kvx_best" 'BEGIN { exit !(a < b) }'; then
    kvx_best=$took
    kvx_cpu=$(cpu_of cpu.txt)
  fi
  kvx_times="$kvx_times $took"
done
tsc_time=$(echo "$tsc_times" | least)
kvx_time=$(echo "$kvx_times" | least)
tsc_errors=$(grep -c 'error TS' "$work/tsc/tsc.out" || true)

cd "$work/kvx"
sessions=$(grep -c '^start' session.log || true)
first_rss=$(awk '/^rss/ { print $2; exit }' session.log)
most_rss=$(awk '/^rss/ && $2 > m { m = $2 } END { print m + 0 }' session.log)
peak=$(awk '/^peak/ { print $2 }' session.log)
cpu=$(awk '/^cpu/ { printf "%.1f", $2 / 1000 }' session.log)
checks=$(awk '/^took check/ && $5 != "cached"' session.log | wc -l)
cached=$(grep -c '^took check .* cached$' session.log || true)
check_time=$(awk '/^took check/ { t += $3 } END { printf "%.1f", t / 1000 }' session.log)
emit_time=$(awk '/^took emit/ { t += $3 } END { printf "%.1f", t / 1000 }' session.log)
waited=$(awk '/^took sourceResult/ { t += $3 } END { printf "%.1f", t / 1000 }' session.log)

echo "Folder of $count corpus files (best of $repeat; load $load_start at the start, $(load) at the end):"
echo "  tsc --noEmit over the .ts copies : ${tsc_time}s, ${tsc_cpu:-?}s CPU ($tsc_errors errors) [runs:$tsc_times]"
echo "  kvx go --inline (mode auto)      : ${kvx_time}s, ${kvx_cpu:-?}s CPU, $sessions compiler process(es) [runs:$kvx_times]"
echo "  in the compiler (last run)       : $checks checks ${check_time}s ($cached answered from the last check), emits ${emit_time}s, waited ${waited}s for the sources' thread, ${cpu}s CPU"
echo "  ratio                            : $(ratio "$kvx_time" "$tsc_time")x (target 2x); CPU $( [ -n "$tsc_cpu" ] && [ -n "$kvx_cpu" ] && ratio "$kvx_cpu" "$tsc_cpu" || echo ?)x"
echo "  compiler memory                  : first check $((${first_rss:-0} / 1048576)) MB, most after a check $((most_rss / 1048576)) MB, peak $((${peak:-0} / 1048576)) MB (tsc alone: peak $((tsc_rss / 1024)) MB)"
sed -n '/Inline Check Summary/,/Reproduce/p' kvx.out | sed 's/\x1b\[[0-9;]*m//g'

# One file.
single="$work/kvx/proj/$(grep -v '^#' "$root/bench/corpus_files.txt" | awk -v f="$one_file" 'NF && index($2, f) { sub(/@.*/, "", $1); print $1 "/" $2; exit }')"
[ -f "$single" ] || { echo "project_check: no corpus file matches $one_file" >&2; exit 1; }
cd "$work/one"
cp "$single" one.js
cp "$single" one.ts
tsc_ones=""
kvx_ones=""
i=0
while [ "$i" -lt "$repeat" ]; do
  i=$((i + 1))
  start=$(now)
  # shellcheck disable=SC2086
  node node_modules/typescript/bin/tsc $tsc_flags one.ts > tsc.out 2>&1 || true
  tsc_ones="$tsc_ones $(awk -v s="$start" -v e="$(now)" 'BEGIN { print e - s }')"
  rm -rf generated dist
  start=$(now)
  "$kvx" auto --inline one.js > kvx.out 2>&1 || true
  kvx_ones="$kvx_ones $(awk -v s="$start" -v e="$(now)" 'BEGIN { print e - s }')"
done
tsc_one=$(echo "$tsc_ones" | least)
kvx_one=$(echo "$kvx_ones" | least)
echo "One file ($one_file):"
echo "  tsc --noEmit                     : ${tsc_one}s [runs:$tsc_ones]"
echo "  kvx auto --inline                : ${kvx_one}s [runs:$kvx_ones]"
echo "  ratio                            : $(ratio "$kvx_one" "$tsc_one")x (target 1.5x)"
