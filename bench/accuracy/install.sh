#!/bin/sh
# Installs the pinned npm packages of the accuracy benchmark (packages.txt)
# into bench/accuracy/packages/node_modules (project-local, no install
# scripts, nothing global). Quick when they are already there.
set -eu
cd "$(dirname "$0")"
TARGET=packages

# Every package@version named in packages.txt, in its order.
wanted=$(sed -n 's/^package \([^ ]*\).*/\1/p' packages.txt | tr '\n' ' ')
[ -n "$wanted" ] || { echo "accuracy/install: no package in packages.txt" >&2; exit 1; }
if [ -f "$TARGET/installed" ] && [ "$(cat "$TARGET/installed")" = "$wanted" ]; then
  exit 0
fi
if ! command -v npm >/dev/null 2>&1; then
  echo "accuracy/install: npm is not installed" >&2
  exit 1
fi
rm -rf "$TARGET"
mkdir -p "$TARGET"
# A package.json of its own keeps npm from walking up into another project.
printf '{\n  "name": "kvx-accuracy-packages",\n  "private": true\n}\n' > "$TARGET/package.json"
# shellcheck disable=SC2086  # one word per package
npm install --prefix "$TARGET" --save-exact --ignore-scripts --no-audit --no-fund --loglevel=error $wanted
echo "$wanted" > "$TARGET/installed"
echo "accuracy/install: $(echo "$wanted" | wc -w) packages in bench/accuracy/$TARGET/node_modules"
