#!/bin/bash
# Times `kvx go <folder>` with one job (KVX_JOBS=1, the files one after
# another) and with the default pool (one prefetch thread per processor, or
# KVX_JOBS as given with -j), whole process, with /usr/bin/time -v: wall time,
# CPU (user + system, all threads) and peak memory, each the median of N
# runs. Both runs must print the same console and write the same generated
# files; the script says so or fails.
#
#   bench/go_folder.sh [-n RUNS] [-j JOBS] [--kvx PATH] [--synthetic COUNT] [--folder DIR]
#
#   -n RUNS          runs per setting (default 3)
#   -j JOBS          KVX_JOBS of the parallel runs (default: unset, the
#                    processor count)
#   --kvx PATH       the kvx to time (default build/kvx)
#   --synthetic N    a folder of N synthetic modules of 256 KB each instead of
#                    the corpus files
#   --folder DIR     a copy of the .js files below DIR instead
#
# The folder holds the corpus files of bench/corpus_files.txt from
# .ci/corpus (installed by .ci/corpus.sh) and the TypeScript compiler's
# typescript.js (.ci/install-node-tools.sh); without them, 16 synthetic
# modules from bench/make_module.js.
set -u
export LC_ALL=C

repo=$(cd "$(dirname "$0")/.." && pwd)
runs=3
jobs=
kvx=$repo/build/kvx
synthetic=0
folder=

while [ $# -gt 0 ]; do
  case $1 in
    -n) runs=$2; shift 2 ;;
    -j) jobs=$2; shift 2 ;;
    --kvx) kvx=$2; shift 2 ;;
    --synthetic) synthetic=$2; shift 2 ;;
    --folder) folder=$2; shift 2 ;;
    -h|--help) sed -n '2,22p' "$0"; exit 0 ;;
    *) echo "go_folder: unknown argument '$1' (see --help)" >&2; exit 2 ;;
  esac
done
case $runs$synthetic in *[!0-9]*|'') echo "go_folder: counts must be whole numbers" >&2; exit 2 ;; esac
[ -x /usr/bin/time ] || { echo "go_folder: /usr/bin/time (GNU time) is needed" >&2; exit 1; }
[ -x "$kvx" ] || { echo "go_folder: no kvx at $kvx (build it, or pass --kvx PATH)" >&2; exit 1; }
kvx=$(realpath "$kvx")

work=$(mktemp -d "${TMPDIR:-/tmp}/kvx-go-folder.XXXXXX")
trap 'rm -rf "$work"' EXIT
src=$work/project/src
mkdir -p "$src"

corpus=$repo/.ci/corpus/node_modules
typescript_js=$repo/.ci/tools/node_modules/typescript/lib/typescript.js
if [ -n "$folder" ]; then
  (cd "$folder" && find . -name '*.js' -not -path '*/generated/*' -not -path '*/.kvx/*' -print0 |
    xargs -0 -I{} cp --parents {} "$src/") || exit 1
elif [ "$synthetic" = 0 ] && [ -d "$corpus" ]; then
  while read -r package file; do
    case $package in ''|'#'*) continue ;; esac
    name=${package%@*}
    if [ "$name" = typescript ]; then from=$repo/.ci/tools/node_modules/typescript/$file; else from=$corpus/$name/$file; fi
    [ -f "$from" ] || continue
    mkdir -p "$src/$name/$(dirname "$file")"
    cp "$from" "$src/$name/$file"
  done <"$repo/bench/corpus_files.txt"
  [ -f "$typescript_js" ] && [ ! -f "$src/typescript/lib/typescript.js" ] && cp "$typescript_js" "$src/"
else
  count=${synthetic#0}
  count=${count:-16}
  for ((i = 0; i < count; i++)); do node "$repo/bench/make_module.js" 0.25 "$src/module$i.js" || exit 1; done
fi
files=$(find "$src" -name '*.js' | wc -l)
bytes=$(find "$src" -name '*.js' -exec cat {} + | wc -c)
[ "$files" -gt 0 ] || { echo "go_folder: no input files" >&2; exit 1; }

median() {
  sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
to_seconds() { awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }'; }

# measure LABEL JOBS: runs go RUNS times from a clean project folder; keeps
# the medians and the last run's console and generated files.
declare -A wall cpu rss
measure() {
  local label=$1 setting=$2 i walls=() cpus=() rsss=()
  for ((i = 0; i < runs; i++)); do
    rm -rf "$work/project/generated" "$work/project/.kvx"
    if [ -n "$setting" ]; then
      (cd "$work/project" && KVX_JOBS=$setting /usr/bin/time -v -o "$work/time.txt" "$kvx" go src >"$work/$label.out" 2>&1)
    else
      (cd "$work/project" && env -u KVX_JOBS /usr/bin/time -v -o "$work/time.txt" "$kvx" go src >"$work/$label.out" 2>&1)
    fi
    walls+=("$(awk -F'): ' '/Elapsed \(wall clock\)/ { print $2 }' "$work/time.txt" | to_seconds)")
    cpus+=("$(awk -F': ' '/User time|System time/ { s += $2 } END { print s }' "$work/time.txt")")
    rsss+=("$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")")
  done
  rm -rf "$work/$label.generated" && cp -r "$work/project/generated" "$work/$label.generated"
  wall[$label]=$(printf '%s\n' "${walls[@]}" | median)
  cpu[$label]=$(printf '%s\n' "${cpus[@]}" | median)
  rss[$label]=$(printf '%s\n' "${rsss[@]}" | median)
}

echo "timing go on $files files ..." >&2
measure one 1
measure pool "$jobs"
if ! cmp -s "$work/one.out" "$work/pool.out" || ! diff -r "$work/one.generated" "$work/pool.generated" >/dev/null; then
  echo "go_folder: the parallel run differs from the run in order" >&2
  diff "$work/one.out" "$work/pool.out" | head -n 20 >&2
  exit 1
fi

processors=$(nproc 2>/dev/null || echo '?')
echo
awk -v f="$files" -v b="$bytes" -v n="$runs" -v p="$processors" 'BEGIN {
  printf "go on a folder: %d files, %.2f MB, median of %d, %s processors\n", f, b / 1048576, n, p }'
printf '  %-22s %8s %8s %9s %9s\n' setting "wall s" "CPU s" "MB/s" "peak MB"
for label in one pool; do
  name="KVX_JOBS=1"
  [ $label = pool ] && name="KVX_JOBS=${jobs:-default}"
  awk -v t="$name" -v w="${wall[$label]}" -v c="${cpu[$label]}" -v r="${rss[$label]}" -v b="$bytes" 'BEGIN {
    ws = (w > 0) ? w : 0.005
    printf "  %-22s %8.2f %8.2f %9.2f %9.1f\n", t, w, c, b / 1048576 / ws, r / 1024 }'
done
awk -v a="${wall[one]}" -v b="${wall[pool]}" 'BEGIN { if (b > 0) printf "  speed-up (wall)        %8.2f\n", a / b }'
echo "  console and generated files identical: yes"
