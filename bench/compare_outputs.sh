#!/bin/bash
# Runs `kvx w` with two binaries on the same inputs and reports every input on
# which the generated file, the console output or the exit status differ.
#
#   bench/compare_outputs.sh BASELINE_KVX NEW_KVX [files or dirs...]
#
# Folders are searched for .js files. Without inputs it takes examples/, the
# tests' .js files, the TypeScript compiler's typescript.js when
# .ci/install-node-tools.sh has installed it, and a set of generated random
# programs. Each input runs twice per binary, with and without --verbose, each
# time in a fresh scratch folder. Exit status 1 when anything differs.
# KVX_COMPARE_FLAGS adds switches to every run (for example --inline).
set -u

if [ $# -lt 2 ]; then
  echo "usage: $0 BASELINE_KVX NEW_KVX [files or dirs...]" >&2
  exit 2
fi
baseline=$(realpath "$1")
candidate=$(realpath "$2")
shift 2
repo=$(cd "$(dirname "$0")/.." && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/kvx-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Random programs built from statement templates that exercise the passes:
# conditionals, switches, optional chaining, collections, classes, enums,
# regular expressions, unclosed brackets.
generate_programs() {
  local folder=$1 count=$2
  mkdir -p "$folder"
  for seed in $(seq 1 "$count"); do
    awk -v seed="$seed" -v q="'" 'BEGIN {
      srand(seed)
      split("a b c x y k n ok items cfg line tasks user COLORS e res m s", names, " ")
      split("1 0 42 " q "s" q " \"t\" true false null `t${x}` 3.5", lits, " ")
      split("+ - * / == !== < > <= >= && || ??", ops, " ")
      n = 20 + int(rand() * 60)
      for (i = 0; i < n; i++) {
        N = names[1 + int(rand() * 18)]; M = names[1 + int(rand() * 18)]
        L = lits[1 + int(rand() * 10)]; O = ops[1 + int(rand() * 13)]
        r = int(rand() * 30)
        if (r == 0) print "function f" i "(" N ", " M ") {"
        else if (r == 1) print "}"
        else if (r == 2) print "let " N " = " M " ? " L " : " M ";"
        else if (r == 3) print "const " N " = " M "?.port ?? " L ";"
        else if (r == 4) print "switch (" N ") { case " L ": return " L "; default: " M "(); }"
        else if (r == 5) print N " = " M " " O " " L ";"
        else if (r == 6) print "return " N " " O " " L ";"
        else if (r == 7) print "const " N " = new Map(); " N ".set(" L ", " M ");"
        else if (r == 8) print "const " N " = new Set(); " N ".add(" L ");"
        else if (r == 9) print "const " toupper(N) " = { RED: " L ", B: " L " };"
        else if (r == 10) print "const " N " = { port: " L ", name: " L ", nested: { x: " L " } };"
        else if (r == 11) print "class K" i " { constructor(" N ") { this." N " = " N "; } run(" M " = " L ") { return " M "; } }"
        else if (r == 12) print N ".run(" L ", " M ");"
        else if (r == 13) print "const " N " = " M ".map(v => v " O " " L ");"
        else if (r == 14) print "x = /[a-z(]+/g.test(" N ");"
        else if (r == 15) print "const [" N ", " M "] = items;"
        else if (r == 16) print "tasks.push({ id: " L ", url: " M " });"
        else if (r == 17) print "for (const " N " of tasks) { " M " = " N ".trim(); }"
        else if (r == 18) print "const " N " = require(" q "fs" q ");"
        else if (r == 19) print "const " N " = await fetch(" M ");"
        else if (r == 20) print "if (" N " && " M ") { return { ok: " L " }; }"
        else if (r == 21) print "const " N " = (" M ") => cache.delete(" M ");"
        else if (r == 22) print "export const " N " = " L ";"
        else if (r == 23) print "import " N " from " q "mod" i q ";"
        else if (r == 24) print N "(" M ", " L
        else if (r == 25) print "get " N "() { return this." N "; }"
        else if (r == 26) print "const " N " = (async () => { return " L "; })();"
        else if (r == 27) print "`${" N "} ${" M "}`;"
        else if (r == 28) print "http.createServer(" N "); s.on(" q "data" q ", " M ");"
        else print "let " N " = " L ";"
      }
    }' > "$folder/random_$seed.js"
  done
}

inputs=()
if [ $# -eq 0 ]; then
  set -- "$repo/examples" "$repo/tests"
  typescript="$repo/.ci/tools/node_modules/typescript/lib/typescript.js"
  [ -f "$typescript" ] && set -- "$@" "$typescript"
  generate_programs "$work/random" 200
  set -- "$@" "$work/random"
fi
for item in "$@"; do
  if [ -d "$item" ]; then
    while IFS= read -r -d '' file; do inputs+=("$file"); done < <(find "$item" -name '*.js' -type f -print0 | sort -z)
  else
    inputs+=("$item")
  fi
done

# Runs one binary on one input in a fresh folder; leaves console.txt, status.txt
# and generated/ there.
run_one() {
  local binary=$1 input=$2 folder=$3
  shift 3
  rm -rf "$folder"
  mkdir -p "$folder"
  cp "$input" "$folder/"
  (cd "$folder" && "$binary" w "$@" "$(basename "$input")" > console.txt 2>&1; echo $? > status.txt)
}

differences=0
compared=0
for input in "${inputs[@]}"; do
  for flags in "${KVX_COMPARE_FLAGS:-}" "${KVX_COMPARE_FLAGS:-} --verbose"; do
    run_one "$baseline" "$input" "$work/a" $flags
    run_one "$candidate" "$input" "$work/b" $flags
    compared=$((compared + 1))
    problem=""
    cmp -s "$work/a/status.txt" "$work/b/status.txt" || problem="$problem exit-status"
    cmp -s "$work/a/console.txt" "$work/b/console.txt" || problem="$problem console"
    if [ -d "$work/a/generated" ] || [ -d "$work/b/generated" ]; then
      diff -r -q "$work/a/generated" "$work/b/generated" > /dev/null 2>&1 || problem="$problem generated"
    fi
    if [ -n "$problem" ]; then
      differences=$((differences + 1))
      echo "DIFFERENT ($flags):$problem: $input"
      diff -r "$work/a/generated" "$work/b/generated" 2>/dev/null | head -5
      diff "$work/a/console.txt" "$work/b/console.txt" | head -5
    fi
  done
done

echo "$compared runs compared, $differences different"
[ "$differences" -eq 0 ]
