#!/bin/sh
# Installs the pinned comparison tools of bench/whole_run.sh into bench/tools
# (project-local, gitignored, nothing global): esbuild, Sucrase and lodash,
# whose lodash.js is one of the inputs. The TypeScript compiler comes from
# .ci/install-node-tools.sh, which this script runs too. Quick when everything
# is already there.
set -eu
cd "$(dirname "$0")"

ESBUILD_VERSION=0.24.2
SUCRASE_VERSION=3.35.1
LODASH_VERSION=4.17.21
TOOLS=tools

installed_version() {
  # $1: package folder below node_modules
  file="$TOOLS/node_modules/$1/package.json"
  [ -f "$file" ] || return 0
  sed -n 's/^ *"version": *"\([^"]*\)".*/\1/p' "$file" | head -n 1
}

../.ci/install-node-tools.sh

if [ "$(installed_version esbuild)" = "$ESBUILD_VERSION" ] &&
   [ "$(installed_version sucrase)" = "$SUCRASE_VERSION" ] &&
   [ "$(installed_version lodash)" = "$LODASH_VERSION" ] &&
   "$TOOLS/node_modules/.bin/esbuild" --version >/dev/null 2>&1; then
  exit 0
fi

if ! command -v npm >/dev/null 2>&1; then
  echo "install-bench-tools: npm is not installed" >&2
  exit 1
fi

mkdir -p "$TOOLS"
# A package.json of its own keeps npm from walking up into another project.
if [ ! -f "$TOOLS/package.json" ]; then
  printf '{\n  "name": "kvx-bench-tools",\n  "private": true\n}\n' > "$TOOLS/package.json"
fi
# No install scripts: esbuild's executable comes as its platform package (an
# optional dependency), so its own install script is not needed.
npm install --prefix "$TOOLS" --save-exact --ignore-scripts --no-audit --no-fund --loglevel=error \
  "esbuild@$ESBUILD_VERSION" "sucrase@$SUCRASE_VERSION" "lodash@$LODASH_VERSION"

if ! "$TOOLS/node_modules/.bin/esbuild" --version >/dev/null 2>&1; then
  echo "install-bench-tools: esbuild's executable does not run (platform package missing?)" >&2
  exit 1
fi
echo "install-bench-tools: esbuild $ESBUILD_VERSION, sucrase $SUCRASE_VERSION, lodash $LODASH_VERSION in bench/$TOOLS"
