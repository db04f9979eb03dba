#!/bin/sh
# Installs the pinned npm packages whose own test suites check that the
# inline form keeps programs working (bench/inline_suites.sh), with only the
# packages their tests require, into .ci/inline-packages (project-local, no
# install scripts). Quick when they are already there.
#
# Each package is unpacked to .ci/inline-packages/<name>/package, its test
# dependencies installed beside it in .ci/inline-packages/<name>/node_modules.
set -eu
cd "$(dirname "$0")"
TARGET=inline-packages

# package@version  test dependencies (exact versions)
PACKAGES='
minimist@1.2.8 tape@5.8.1
fast-json-stable-stringify@2.1.0 tape@4.17.0
qs@6.13.0 tape@5.8.1 side-channel@1.0.6 es-value-fixtures@1.4.2 for-each@0.3.3 has-override-mistake@1.0.1 has-property-descriptors@1.0.2 has-symbols@1.0.3 iconv-lite@0.5.2 mock-property@1.0.3 object-inspect@1.13.2 safer-buffer@2.1.2
'

if ! command -v npm >/dev/null 2>&1; then
  echo "install-inline-packages: npm is not installed" >&2
  exit 1
fi
mkdir -p "$TARGET"
echo "$PACKAGES" | while read -r package deps; do
  [ -n "$package" ] || continue
  name=${package%@*}
  dir="$TARGET/$name"
  if [ -f "$dir/installed" ] && [ "$(cat "$dir/installed")" = "$package $deps" ]; then continue; fi
  rm -rf "$dir"
  mkdir -p "$dir"
  (cd "$dir" && npm pack "$package" --silent --loglevel=error > pack.txt && tar xzf "$(tail -n 1 pack.txt)")
  printf '{\n  "name": "kvx-inline-%s",\n  "private": true\n}\n' "$name" > "$dir/package.json"
  # shellcheck disable=SC2086  # one word per dependency
  npm install --prefix "$dir" --save-exact --ignore-scripts --no-audit --no-fund --loglevel=error $deps
  echo "$package $deps" > "$dir/installed"
done
echo "install-inline-packages: packages in .ci/$TARGET"
