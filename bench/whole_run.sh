#!/bin/bash
# Times whole runs of `kvx w` next to esbuild, Sucrase and the TypeScript
# compiler's declaration emit, on the same inputs, with /usr/bin/time -v: CPU
# (user + system), wall time and peak resident memory, each the median of N
# runs.
#
#   bench/whole_run.sh [-n RUNS] [--tsc-runs RUNS] [--kvx PATH] [--sizes "1 2 4 8 16"]
#                      [--tools "kvx esbuild sucrase tsc"] [--no-tsc] [--no-real] [--keep]
#
#   -n RUNS        runs per tool and input (default 5; RUNS in the environment too)
#   --tsc-runs R   runs of tsc, which takes minutes on typescript.js (default RUNS)
#   --kvx PATH     the kvx to time (default build/kvx)
#   --sizes LIST   sizes in MB (2^20 bytes) of the synthetic modules (default 1 2 4 8 16)
#   --tools LIST   the tools to time (default kvx esbuild sucrase tsc)
#   --no-tsc       leave out the declaration emit
#   --no-real      leave out typescript.js and lodash.js
#   --keep         keep the scratch folder (inputs, outputs, logs) and print its path
#
# Inputs: the TypeScript compiler's lib/typescript.js (typescript 5.9.3, from
# .ci/install-node-tools.sh), lodash.js (lodash 4.17.21) and synthetic modules
# from bench/make_module.js. bench/install-bench-tools.sh installs everything.
# MB/s and lines/s are end to end: input size over the wall time of the whole
# process. The machine's load shows in the wall times; CPU times are steadier.
set -u
export LC_ALL=C

repo=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-5}
tsc_runs=
kvx=$repo/build/kvx
sizes="1 2 4 8 16"
tools="kvx esbuild sucrase tsc"
with_tsc=1
with_real=1
keep=0

while [ $# -gt 0 ]; do
  case $1 in
    -n) runs=$2; shift 2 ;;
    --tsc-runs) tsc_runs=$2; shift 2 ;;
    --kvx) kvx=$2; shift 2 ;;
    --sizes) sizes=$2; shift 2 ;;
    --tools) tools=$2; shift 2 ;;
    --no-tsc) with_tsc=0; shift ;;
    --no-real) with_real=0; shift ;;
    --keep) keep=1; shift ;;
    -h|--help) sed -n '2,23p' "$0"; exit 0 ;;
    *) echo "whole_run: unknown argument '$1' (see --help)" >&2; exit 2 ;;
  esac
done
tsc_runs=${tsc_runs:-$runs}
wants() { [[ " $tools " == *" $1 "* ]]; }
wants tsc || with_tsc=0
for tool in $tools; do
  case $tool in kvx|esbuild|sucrase|tsc) ;; *) echo "whole_run: unknown tool '$tool'" >&2; exit 2 ;; esac
done
case $runs$tsc_runs in *[!0-9]*|'') echo "whole_run: run counts must be whole numbers" >&2; exit 2 ;; esac
if [ "$runs" -lt 1 ] || [ "$tsc_runs" -lt 1 ]; then
  echo "whole_run: run counts must be at least 1" >&2
  exit 2
fi

if [ ! -x /usr/bin/time ]; then
  echo "whole_run: /usr/bin/time (GNU time) is needed" >&2
  exit 1
fi
if wants kvx; then
  if [ ! -x "$kvx" ]; then
    echo "whole_run: no kvx at $kvx (build it, or pass --kvx PATH)" >&2
    exit 1
  fi
  kvx=$(realpath "$kvx")
fi

node_modules=$repo/bench/tools/node_modules
# esbuild's own executable, not the node wrapper in .bin, so that no node
# start-up is counted.
esbuild=$(ls "$node_modules"/@esbuild/*/bin/esbuild 2>/dev/null | head -n 1)
sucrase_script=$repo/bench/sucrase_run.js
tsc=$repo/.ci/tools/node_modules/typescript/bin/tsc
typescript_js=$repo/.ci/tools/node_modules/typescript/lib/typescript.js
lodash_js=$node_modules/lodash/lodash.js

missing() {
  echo "whole_run: $1 missing; bench/install-bench-tools.sh installs it. Left out." >&2
}
if ! wants esbuild; then
  esbuild=
elif [ -z "$esbuild" ] || [ ! -x "$esbuild" ]; then
  missing esbuild
  esbuild=
fi
if ! wants sucrase; then
  sucrase_script=
elif [ ! -d "$node_modules/sucrase" ]; then
  missing sucrase
  sucrase_script=
fi
[ -f "$tsc" ] || { [ $with_tsc = 0 ] || missing tsc; with_tsc=0; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kvx-whole-run.XXXXXX")
if [ $keep = 1 ]; then
  trap 'echo "scratch folder kept: $work"' EXIT
else
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work/inputs"

inputs=()
if [ $with_real = 1 ]; then
  for file in "$typescript_js" "$lodash_js"; do
    if [ -f "$file" ]; then
      cp "$file" "$work/inputs/"
      inputs+=("$(basename "$file")")
    else
      missing "$file"
    fi
  done
fi
for mb in $sizes; do
  name=synthetic-${mb}mb.js
  node "$repo/bench/make_module.js" "$mb" "$work/inputs/$name" || exit 1
  inputs+=("$name")
done

# Median of the numbers on standard input, one per line.
median() {
  sort -g | awk '{ v[NR] = $1 } END {
    if (NR == 0) { print "nan"; exit }
    if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Seconds from GNU time's "h:mm:ss" or "m:ss.cc".
to_seconds() {
  awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }'
}

declare -A cpu wall rss note

# measure TOOL INPUT RUNS COMMAND...: runs COMMAND RUNS times in a fresh
# folder (its working directory) and keeps the medians. A tool that fails is
# reported and left out of the figures; tsc counts as done when it wrote the
# declaration file, since it emits despite type errors in plain JS.
measure() {
  local tool=$1 input=$2 count=$3
  shift 3
  local key="$tool|$input" i status
  local cpus=() walls=() rsss=()
  for ((i = 0; i < count; i++)); do
    rm -rf "$work/run" && mkdir -p "$work/run"
    (cd "$work/run" && /usr/bin/time -v -o "$work/time.txt" "$@" >"$work/$tool.out" 2>&1)
    status=$?
    if [ $status != 0 ] && ! { [ "$tool" = tsc ] && ls "$work"/run/out/*.d.ts >/dev/null 2>&1; }; then
      echo "whole_run: $tool failed on $input (status $status); its output:" >&2
      tail -n 5 "$work/$tool.out" >&2
      note[$key]=failed
      return
    fi
    [ $status != 0 ] && note[$key]="exit status $status"
    cpus+=("$(awk -F': ' '/User time|System time/ { s += $2 } END { print s }' "$work/time.txt")")
    walls+=("$(awk -F'): ' '/Elapsed \(wall clock\)/ { print $2 }' "$work/time.txt" | to_seconds)")
    rsss+=("$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")")
  done
  cpu[$key]=$(printf '%s\n' "${cpus[@]}" | median)
  wall[$key]=$(printf '%s\n' "${walls[@]}" | median)
  rss[$key]=$(printf '%s\n' "${rsss[@]}" | median)
}

for input in "${inputs[@]}"; do
  file=$work/inputs/$input
  echo "timing $input ..." >&2
  wants kvx && measure kvx "$input" "$runs" "$kvx" w "$file"
  if wants kvx && [ ! -s "$work/run/generated/${input%.js}.ts" ] && [ "${note[kvx|$input]:-}" != failed ]; then
    echo "whole_run: kvx wrote no generated/${input%.js}.ts for $input" >&2
    note[kvx|$input]=failed
  fi
  [ -n "$esbuild" ] && measure esbuild "$input" "$runs" "$esbuild" "$file" --outfile=out.js
  [ -n "$sucrase_script" ] && measure sucrase "$input" "$runs" node "$sucrase_script" "$file" out.js
  if [ $with_tsc = 1 ] && [[ $input != synthetic-* ]]; then
    measure tsc "$input" "$tsc_runs" node "$tsc" --allowJs --declaration --emitDeclarationOnly --outDir out "$file"
  fi
done

has() { [ -n "${cpu[$1|$2]:-}" ] && [ "${note[$1|$2]:-}" != failed ]; }

echo
echo "Whole runs, median of $runs (tsc: $tsc_runs); MB = 2^20 bytes; kvx = $kvx"
echo "MB/s and lines/s: input over wall time; CPU = user + system; peak = maximum resident set size"
for input in "${inputs[@]}"; do
  file=$work/inputs/$input
  bytes=$(wc -c <"$file")
  lines=$(wc -l <"$file")
  echo
  awk -v n="$input" -v b="$bytes" -v l="$lines" 'BEGIN { printf "%s: %.2f MB, %d lines\n", n, b / 1048576, l }'
  printf '  %-8s %9s %11s %8s %8s %9s %11s\n' tool MB/s lines/s "CPU s" "wall s" "peak MB" "peak/input"
  for tool in kvx esbuild sucrase tsc; do
    key="$tool|$input"
    if [ "${note[$key]:-}" = failed ]; then
      printf '  %-8s failed\n' "$tool"
    elif has "$tool" "$input"; then
      awk -v t="$tool" -v b="$bytes" -v l="$lines" -v c="${cpu[$key]}" -v w="${wall[$key]}" \
          -v r="${rss[$key]}" -v extra="${note[$key]:-}" 'BEGIN {
        ws = (w > 0) ? w : 0.005   # GNU time counts in hundredths
        printf "  %-8s %9.2f %11.0f %8.2f %8.2f %9.1f %11.2f%s\n", t, b / 1048576 / ws, l / ws, c, w,
               r / 1024, r * 1024 / b, (extra == "" ? "" : "  (" extra ")") }'
    fi
  done
done

# ratio LABEL A B: prints A / B.
ratio() {
  awk -v label="$1" -v a="$2" -v b="$3" 'BEGIN {
    if (b > 0) printf "  %-50s %8.2f\n", label, a / b; else printf "  %-50s %8s\n", label, "n/a" }'
}

echo
echo "Ratios"
if has kvx typescript.js && has esbuild typescript.js; then
  ratio "kvx CPU / esbuild CPU, typescript.js" "${cpu[kvx|typescript.js]}" "${cpu[esbuild|typescript.js]}"
  ratio "kvx wall / esbuild wall, typescript.js" "${wall[kvx|typescript.js]}" "${wall[esbuild|typescript.js]}"
fi
for input in typescript.js lodash.js; do
  if has kvx "$input" && has tsc "$input"; then
    ratio "tsc CPU / kvx CPU, $input" "${cpu[tsc|$input]}" "${cpu[kvx|$input]}"
    ratio "tsc wall / kvx wall, $input" "${wall[tsc|$input]}" "${wall[kvx|$input]}"
  fi
done
for tool in kvx esbuild; do
  if has $tool synthetic-16mb.js && has $tool synthetic-8mb.js; then
    ratio "$tool CPU 16 MB / 8 MB (2.00 = linear)" "${cpu[$tool|synthetic-16mb.js]}" "${cpu[$tool|synthetic-8mb.js]}"
    ratio "$tool wall 16 MB / 8 MB" "${wall[$tool|synthetic-16mb.js]}" "${wall[$tool|synthetic-8mb.js]}"
  fi
done
for input in "${inputs[@]}"; do
  if has kvx "$input"; then
    ratio "kvx peak memory / input size, $input" "$((${rss[kvx|$input]} * 1024))" "$(wc -c <"$work/inputs/$input")"
  fi
done
