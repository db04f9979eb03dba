#!/bin/sh
# Shows that the inline form keeps programs working:
# 1. each example runs with node from its source and from the JavaScript that
#    `kvx auto --inline` compiled, with the same output;
# 2. the sources of pinned npm packages (.ci/install-inline-packages.sh) are
#    converted with `kvx auto --inline` file by file, the compiled files put
#    in place of the sources, and the packages' own test suites run on them.
# Exit status 1 when an output differs or a suite fails.
#
#   bench/inline_suites.sh [--kvx PATH] [--work DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
kvx="$root/build/kvx"
work="$root/build/inline-suites"
tools="$root/.ci/tools/node_modules"
packages="$root/.ci/inline-packages"
while [ $# -gt 0 ]; do
  case "$1" in
    --kvx) kvx=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift ;;
    --work) mkdir -p "$2"; work=$(cd "$2" && pwd); shift ;;
    *) echo "inline_suites: unknown argument '$1'" >&2; exit 2 ;;
  esac
  shift
done
[ -x "$kvx" ] || { echo "inline_suites: no kvx binary at $kvx (build it first)" >&2; exit 2; }
[ -e "$tools/typescript/bin/tsc" ] || { echo "inline_suites: run .ci/install-node-tools.sh first" >&2; exit 2; }

rm -rf "$work"
mkdir -p "$work/bin"
real_npx=$(command -v npx || echo npx)
cat > "$work/bin/npx" <<SHIM
#!/bin/sh
if [ "\$1" = tsc ]; then shift; exec "$tools/.bin/tsc" "\$@"; fi
exec "$real_npx" "\$@"
SHIM
chmod +x "$work/bin/npx"
PATH="$work/bin:$PATH"
export PATH
failures=0

# Converts one source file in the scratch folder $2 and puts the compiled
# file in its place; prints the annotation counts.
convert() {
  file=$1 scratch=$2
  stem=$(basename "$file" .js)
  (cd "$scratch" && "$kvx" auto --inline "$file" > "$stem.log" 2>&1) || true
  if [ ! -f "$scratch/dist/$stem.js" ]; then
    echo "  $file: no compiled output (see $scratch/$stem.log)"
    return 1
  fi
  cp "$scratch/dist/$stem.js" "$file"
  echo "  $(basename "$file"): $(sed -n 's/.*\[INLINE\] Annotations: \(.*\)\..*/\1/p' "$scratch/$stem.log" | tail -n 1)"
}

echo "== examples"
mkdir -p "$work/examples"
ln -s "$tools" "$work/examples/node_modules"
for example in "$root"/examples/*.js; do
  name=$(basename "$example")
  cp "$example" "$work/examples/$name"
  (cd "$work/examples" && node "$name" > "$name.expected" 2>&1) || true
  cp "$work/examples/$name" "$work/examples/$name.orig"
  convert "$work/examples/$name" "$work/examples" || { failures=$((failures + 1)); continue; }
  (cd "$work/examples" && node "$name" > "$name.actual" 2>&1) || true
  if cmp -s "$work/examples/$name.expected" "$work/examples/$name.actual"; then
    echo "  $name: same output"
  else
    echo "  $name: OUTPUT DIFFERS"
    failures=$((failures + 1))
  fi
done

# name  sources (below package/)  test files
suite() {
  name=$1 sources=$2 tests=$3
  echo "== $name ($(sed -n 's/^\([^ ]*\) .*/\1/p' "$packages/$name/installed"))"
  if [ ! -d "$packages/$name/package" ]; then
    echo "  not installed: run .ci/install-inline-packages.sh"
    failures=$((failures + 1))
    return
  fi
  dir="$work/$name"
  mkdir -p "$dir/kvx"
  cp -R "$packages/$name/package" "$dir/package"
  ln -s "$packages/$name/node_modules" "$dir/node_modules"
  ln -s "$tools" "$dir/kvx/node_modules"
  # shellcheck disable=SC2086  # the test files are a glob on purpose
  if ! (cd "$dir/package" && node "$dir/node_modules/tape/bin/tape" $tests > "$dir/before.log" 2>&1); then
    echo "  the suite fails on the package as published: see $dir/before.log"
    failures=$((failures + 1))
    return
  fi
  for source in $sources; do
    convert "$dir/package/$source" "$dir/kvx" || failures=$((failures + 1))
  done
  # shellcheck disable=SC2086
  if (cd "$dir/package" && node "$dir/node_modules/tape/bin/tape" $tests > "$dir/after.log" 2>&1); then
    echo "  suite passes on the converted sources ($(grep -c '^ok ' "$dir/after.log") assertions)"
  else
    echo "  SUITE FAILS on the converted sources: see $dir/after.log"
    failures=$((failures + 1))
  fi
}

suite minimist "index.js" "test/*.js"
suite fast-json-stable-stringify "index.js" "test/*.js"
suite qs "lib/formats.js lib/utils.js lib/parse.js lib/stringify.js lib/index.js" "test/*.js"

if [ "$failures" -gt 0 ]; then
  echo "inline_suites: $failures failure(s)"
  exit 1
fi
echo "inline_suites: all examples and suites pass"
