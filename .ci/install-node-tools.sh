#!/bin/sh
# Installs the pinned TypeScript compiler and Node type definitions that the
# end-to-end tests use into .ci/tools (project-local, nothing global). Quick
# when they are already there. Tests see them through a node_modules link to
# .ci/tools/node_modules.
set -eu
cd "$(dirname "$0")"

TYPESCRIPT_VERSION=5.9.3
TYPES_NODE_VERSION=20.19.9
TOOLS=tools

installed_version() {
  # $1: package folder below node_modules
  file="$TOOLS/node_modules/$1/package.json"
  [ -f "$file" ] || return 0
  sed -n 's/^ *"version": *"\([^"]*\)".*/\1/p' "$file" | head -n 1
}

if [ "$(installed_version typescript)" = "$TYPESCRIPT_VERSION" ] &&
   [ "$(installed_version @types/node)" = "$TYPES_NODE_VERSION" ] &&
   [ -e "$TOOLS/node_modules/.bin/tsc" ]; then
  exit 0
fi

if ! command -v npm >/dev/null 2>&1; then
  echo "install-node-tools: npm is not installed (needed for typescript and @types/node)" >&2
  exit 1
fi

mkdir -p "$TOOLS"
# A package.json of its own keeps npm from walking up into another project.
if [ ! -f "$TOOLS/package.json" ]; then
  printf '{\n  "name": "kvx-ci-tools",\n  "private": true\n}\n' > "$TOOLS/package.json"
fi
npm install --prefix "$TOOLS" --save-exact --no-audit --no-fund --loglevel=error \
  "typescript@$TYPESCRIPT_VERSION" "@types/node@$TYPES_NODE_VERSION"
echo "install-node-tools: typescript $TYPESCRIPT_VERSION and @types/node $TYPES_NODE_VERSION in .ci/$TOOLS"
