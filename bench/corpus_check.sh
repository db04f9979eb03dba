#!/bin/sh
# Runs `kvx w` and `kvx auto` over the corpus of real npm packages
# (bench/corpus_files.txt) and checks the generated TypeScript with the
# compiler's parser and checker (bench/corpus_check.js): parse errors and
# duplicate declarations must be 0; the compiler's error count is printed
# next to the rename baseline.
#
#   bench/corpus_check.sh [--report-only] [--details N] [--kvx PATH]
#                         [--modules DIR] [--work DIR] [--only TEXT]
#                         [--jobs N] [--full-limit BYTES]
#
# --report-only  exit 0 whatever was found
# --details N    print the first N parse errors and duplicates of each file
# --kvx          the kvx binary (default build/kvx)
# --modules      where the packages are installed (default .ci/corpus/node_modules)
# --work         scratch folder, emptied first (default build/corpus-work)
# --only         check only the files whose line in the list holds TEXT
# --jobs N       convert N files at a time (default 2)
# --full-limit B files above B bytes (default 2000000) are not compiled by
#                `kvx auto` and get no rename baseline: the compiler needs
#                minutes and gigabytes for them; their output is still checked
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
kvx="$root/build/kvx"
modules="$root/.ci/corpus/node_modules"
work="$root/build/corpus-work"
tools="$root/.ci/tools/node_modules"
only=""
checker_args=""
jobs=2
full_limit=2000000
while [ $# -gt 0 ]; do
  case "$1" in
    --report-only) checker_args="$checker_args --report-only" ;;
    --details) checker_args="$checker_args --details $2"; shift ;;
    --kvx) kvx=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift ;;
    --modules) modules=$(cd "$2" && pwd); shift ;;
    --work) mkdir -p "$2"; work=$(cd "$2" && pwd); shift ;;
    --only) only="$2"; shift ;;
    --jobs) jobs="$2"; shift ;;
    --full-limit) full_limit="$2"; shift ;;
    *) echo "corpus_check: unknown argument '$1'" >&2; exit 2 ;;
  esac
  shift
done

[ -x "$kvx" ] || { echo "corpus_check: no kvx binary at $kvx (build it first)" >&2; exit 2; }
[ -e "$tools/typescript/bin/tsc" ] || { echo "corpus_check: TypeScript missing from $tools: run .ci/install-node-tools.sh" >&2; exit 2; }

rm -rf "$work"
mkdir -p "$work"
# A kvx run that hangs must not hold up CI for ever.
limit=""
command -v timeout >/dev/null 2>&1 && limit="timeout 600"

# `npx tsc` answers at once: the folders link the pinned compiler, and npx's
# own package lookup would double the time of every `kvx auto`.
real_npx=$(command -v npx || echo npx)
mkdir -p "$work/bin"
cat > "$work/bin/npx" <<SHIM
#!/bin/sh
if [ "\$1" = tsc ]; then shift; exec "$tools/.bin/tsc" "\$@"; fi
exec "$real_npx" "\$@"
SHIM
chmod +x "$work/bin/npx"
PATH="$work/bin:$PATH"
export PATH

started=$(date +%s)
# One line per file: its number, package and path; the numbers keep the
# manifest in list order when the files are converted side by side.
grep -v '^#' "$root/bench/corpus_files.txt" | grep -v '^ *$' | grep -F -- "$only" | awk '{ print NR, $1, $2 }' > "$work/files.txt"
export kvx modules work tools limit full_limit
# shellcheck disable=SC2016  # expanded by the inner shell
xargs -P "$jobs" -L 1 sh -c '
  number=$1 package=$2 file=$3
  name=${package%@*}
  if [ "$name" = typescript ]; then source="$tools/typescript/$file"; else source="$modules/$name/$file"; fi
  if [ ! -f "$source" ]; then
    echo "corpus_check: $package $file is not installed ($source)" >&2
    exit 255
  fi
  # Each file in a folder of its own: many are called index.js, and kvx
  # names its output after the file name only.
  dir="$work/$number"
  base=$(basename "$file")
  stem=${base%.js}
  mkdir -p "$dir"
  cp "$source" "$dir/$base"
  # `npx tsc` and the Node type definitions are found as in a user project.
  ln -s "$tools" "$dir/node_modules"
  w_status=0
  (cd "$dir" && $limit "$kvx" w "$base" > w.log 2>&1) || w_status=$?
  w_output=-
  if [ -f "$dir/generated/$stem.ts" ]; then
    cp "$dir/generated/$stem.ts" "$dir/w-output.ts"
    w_output="$dir/w-output.ts"
  fi
  # Above the size limit the compiler would take minutes on the file:
  # only the checker looks at it.
  auto_status=skipped
  auto_output=-
  if [ "$(wc -c < "$source")" -le "$full_limit" ]; then
    auto_status=0
    (cd "$dir" && $limit "$kvx" auto "$base" > auto.log 2>&1) || auto_status=$?
    [ -f "$dir/generated/$stem.ts" ] && auto_output="$dir/generated/$stem.ts"
  fi
  printf "%s\t%s\t%s\t%s\t%s\t%s\n" "$package/$file" "$dir/$base" "$w_output" "$auto_output" \
    "$w_status" "$auto_status" > "$dir/manifest-line"
' sh < "$work/files.txt"

manifest="$work/manifest.tsv"
: > "$manifest"
while read -r number package file; do cat "$work/$number/manifest-line" >> "$manifest"; done < "$work/files.txt"
echo "corpus_check: $(wc -l < "$manifest") files converted in $(($(date +%s) - started)) s; checking with the TypeScript compiler"
# shellcheck disable=SC2086  # the checker's arguments are words on purpose
node "$root/bench/corpus_check.js" --full-limit "$full_limit" $checker_args "$manifest"
