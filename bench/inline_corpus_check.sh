#!/bin/sh
# Runs `kvx auto --inline` over the corpus of real npm packages
# (bench/corpus_files.txt, installed by .ci/corpus.sh) and compares, per
# file, the compiler errors of the inline output with those of the source
# copied to .ts unchanged (same flags), and counts the annotations kept and
# the files that compile clean (bench/inline_corpus_check.js). Exit status 1
# when a file has more errors than its baseline or a parse error.
# --mode w converts with `kvx w --inline` (no compile check) in place of
# `kvx auto --inline`; --module-baseline compiles the copy as a module
# (`export {};` added where it has no import or export), as the inline file
# is one.
#
#   bench/inline_corpus_check.sh [--kvx PATH] [--modules DIR] [--work DIR]
#                                [--only TEXT] [--jobs N] [--full-limit BYTES]
#                                [--mode auto|w] [--module-baseline]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
kvx="$root/build/kvx"
modules="$root/.ci/corpus/node_modules"
work="$root/build/inline-corpus-work"
tools="$root/.ci/tools/node_modules"
only=""
jobs=2
full_limit=2000000
mode=auto
check_flags=""
while [ $# -gt 0 ]; do
  case "$1" in
    --kvx) kvx=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift ;;
    --modules) modules=$(cd "$2" && pwd); shift ;;
    --work) mkdir -p "$2"; work=$(cd "$2" && pwd); shift ;;
    --only) only="$2"; shift ;;
    --jobs) jobs="$2"; shift ;;
    --full-limit) full_limit="$2"; shift ;;
    --mode)
      case "$2" in auto|w) mode="$2" ;; *) echo "inline_corpus_check: --mode takes auto or w" >&2; exit 2 ;; esac
      shift ;;
    --module-baseline) check_flags="--module-baseline" ;;
    *) echo "inline_corpus_check: unknown argument '$1'" >&2; exit 2 ;;
  esac
  shift
done

[ -x "$kvx" ] || { echo "inline_corpus_check: no kvx binary at $kvx (build it first)" >&2; exit 2; }
[ -e "$tools/typescript/bin/tsc" ] || { echo "inline_corpus_check: run .ci/install-node-tools.sh first" >&2; exit 2; }

rm -rf "$work"
mkdir -p "$work/bin"
limit=""
command -v timeout >/dev/null 2>&1 && limit="timeout 900"
# `npx tsc` answers at once with the pinned compiler.
real_npx=$(command -v npx || echo npx)
cat > "$work/bin/npx" <<SHIM
#!/bin/sh
if [ "\$1" = tsc ]; then shift; exec "$tools/.bin/tsc" "\$@"; fi
exec "$real_npx" "\$@"
SHIM
chmod +x "$work/bin/npx"
PATH="$work/bin:$PATH"
export PATH

started=$(date +%s)
grep -v '^#' "$root/bench/corpus_files.txt" | grep -v '^ *$' | grep -F -- "$only" | awk '{ print NR, $1, $2 }' > "$work/files.txt"
export kvx modules work tools limit full_limit mode
# shellcheck disable=SC2016  # expanded by the inner shell
xargs -P "$jobs" -L 1 sh -c '
  number=$1 package=$2 file=$3
  name=${package%@*}
  if [ "$name" = typescript ]; then source="$tools/typescript/$file"; else source="$modules/$name/$file"; fi
  [ -f "$source" ] || { echo "inline_corpus_check: $package $file is not installed" >&2; exit 255; }
  dir="$work/$number"
  base=$(basename "$file")
  stem=${base%.js}
  mkdir -p "$dir"
  cp "$source" "$dir/$base"
  ln -s "$tools" "$dir/node_modules"
  status=skipped
  if [ "$mode" = auto ] && [ "$(wc -c < "$source")" -le "$full_limit" ]; then
    status=0
    (cd "$dir" && $limit "$kvx" auto --inline "$base" > auto.log 2>&1) || status=$?
  else
    (cd "$dir" && $limit "$kvx" w --inline "$base" > auto.log 2>&1) || status=$?
  fi
  counts=$(sed -n "s/.*\[INLINE\] Annotations: \([0-9]*\) written, \([0-9]*\) kept.*/\1 \2/p" "$dir/auto.log" | tail -n 1)
  [ -n "$counts" ] || counts=$(sed -n "s/.*inline TS: .* (\([0-9]*\) annotations.*/\1 -/p" "$dir/auto.log" | tail -n 1)
  [ -n "$counts" ] || counts="- -"
  set -- $counts
  output=-
  [ -f "$dir/generated/$stem.ts" ] && output="$dir/generated/$stem.ts"
  printf "%s\t%s\t%s\t%s\t%s\t%s\n" "$package/$file" "$dir/$base" "$output" "$status" "$1" "$2" > "$dir/manifest-line"
' sh < "$work/files.txt"

manifest="$work/manifest.tsv"
: > "$manifest"
while read -r number package file; do cat "$work/$number/manifest-line" >> "$manifest"; done < "$work/files.txt"
echo "inline_corpus_check: $(wc -l < "$manifest") files converted in $(($(date +%s) - started)) s"
# shellcheck disable=SC2086  # no flag or one
node "$root/bench/inline_corpus_check.js" --full-limit "$full_limit" $check_flags "$manifest"
