#!/bin/bash
# Installs kvx the npm way and uses it as a JavaScript developer would: packs
# the packages (npm/pack.sh), checks that the Linux binary needs only the C
# library, installs the tarballs offline into a fresh project and runs kvx
# there through npx: a conversion, the version, a failing command and the
# inline form compiled by the TypeScript compiler installed beside it. Then
# the Windows package: the launcher must pick its kvx.exe when the platform
# is win32, and that kvx.exe runs under Wine through the launcher's run().
# No registry is asked: the kvx tarballs are files, TypeScript comes from
# .ci/tools (.ci/install-node-tools.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
started=$(date +%s)

# --- Tools ------------------------------------------------------------------
need=()
command -v node >/dev/null 2>&1 || need+=(nodejs)
command -v npm >/dev/null 2>&1 || need+=(npm)
command -v readelf >/dev/null 2>&1 || need+=(binutils)
command -v wine >/dev/null 2>&1 || need+=(wine wine64)
command -v x86_64-w64-mingw32-g++ >/dev/null 2>&1 || need+=(g++-mingw-w64-x86-64)
if [ ${#need[@]} -gt 0 ]; then
  if ! command -v apt-get >/dev/null 2>&1 || [ "$(id -u)" != 0 ]; then
    echo "npm-package: missing ${need[*]} (apt-get install them as root)" >&2
    exit 1
  fi
  echo "npm-package: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
.ci/install-node-tools.sh

work=$(mktemp -d /tmp/kvx-npm-package.XXXXXX)
cleanup() {
  [ -d "$work/prefix" ] && WINEPREFIX=$work/prefix wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# --- Packages -----------------------------------------------------------------
npm/pack.sh "$work/pack"
version=$(tar -xOzf "$work"/pack/kvx-[0-9]*.tgz package/package.json | node -p 'JSON.parse(require("fs").readFileSync(0)).version')
echo "npm-package: packages of version $version ready after $(($(date +%s) - started)) s"

passed=0
failed=0
check() {  # check NAME COMMAND...: counts and reports one check
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "ok: $name"
  else
    failed=$((failed + 1))
    echo "FAIL: $name"
  fi
}
# Runs a command; its standard output and error (CR LF made LF) in $out, its
# exit status in $status. Through a file: Wine may leave helpers behind that
# hold a pipe open.
run() {
  set +e
  "$@" </dev/null >"$work/output.txt" 2>&1
  status=$?
  set -e
  out=$(tr -d '\r' <"$work/output.txt")
}
has() { grep -qF -- "$1" <<<"$out" || { echo "  missing '$1' in:"; sed 's/^/    /' <<<"$out"; return 1; }; }
is_status() {
  [ "$status" = "$1" ] || { echo "  exit status $status, expected $1, output:"; sed 's/^/    /' <<<"$out"; return 1; }
}
red=$'\e[0;31m'

# The launcher's own tests (which binary it picks, streams, status, signals).
check "launcher unit tests" node --test npm/test/

# --- The Linux binary needs the C library only ----------------------------------
mkdir -p "$work/unpacked"
tar -xzf "$work/pack/kvx-linux-x64-$version.tgz" -C "$work/unpacked"
linux_binary=$work/unpacked/package/bin/kvx
# Each NEEDED entry of the dynamic section; all must be parts of the C library.
needed=$(readelf -d "$linux_binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\].*/\1/p' | tr '\n' ' ')
echo "npm-package: NEEDED $needed; newest C library version asked for:" \
  "$(objdump -T "$linux_binary" | grep -o 'GLIBC_[0-9.]*' | sort -uV | tail -n 1)"
only_c_library() {
  local library
  [ -n "$needed" ] || return 1
  for library in $needed; do
    case "$library" in
      libc.so.* | libm.so.* | ld-linux*.so.* | libpthread.so.* | libdl.so.* | librt.so.*) ;;
      *) echo "  $library is not part of the C library"; return 1 ;;
    esac
  done
}
check "the Linux binary needs only the C library" only_c_library
check "the Linux binary is executable in the package" test -x "$linux_binary"

# --- A fresh project, installed offline -----------------------------------------------
# Offline and with a registry address where nothing listens: any attempt to
# reach the registry fails instead of going out.
export npm_config_offline=true npm_config_registry=http://127.0.0.1:9/ npm_config_audit=false \
  npm_config_fund=false npm_config_update_notifier=false npm_config_loglevel=error
project=$work/project
mkdir -p "$project"
cd "$project"
printf '{\n  "name": "kvx-npm-check",\n  "private": true\n}\n' >package.json
cp "$work/pack/kvx-$version.tgz" "$work/pack/kvx-linux-x64-$version.tgz" .
run npm install "./kvx-$version.tgz" "./kvx-linux-x64-$version.tgz"
check "npm install of the tarballs, offline" eval 'is_status 0'
check "the launcher is linked as node_modules/.bin/kvx" test -x node_modules/.bin/kvx
check "the Windows package is left out on Linux" test ! -e node_modules/kvx-win32-x64

cp "$root/examples/inventory.js" example.js
run npx kvx w example.js
check "npx kvx w example.js" eval 'is_status 0 && has "generated"'
check "npx kvx w: generated/example.ts is the golden output" \
  cmp generated/example.ts "$root/tests/golden/inventory.ts"

run npx kvx --version
installed_version=$(node -p 'require("kvx/package.json").version')
check "npx kvx --version prints the package's version ($installed_version)" \
  eval 'is_status 0 && [ "$installed_version" = "$version" ] && has "version $installed_version"'

run npx kvx w missing.js
check "npx kvx w missing.js: exit status 1, in red" eval 'is_status 1 && has "$red"'

# TypeScript beside kvx, linked from .ci/tools: npx tsc, as kvx runs it, finds it.
run npm install "$root/.ci/tools/node_modules/typescript" "$root/.ci/tools/node_modules/@types/node"
check "typescript and @types/node installed beside kvx" eval 'is_status 0 && test -x node_modules/.bin/tsc'
rm -rf generated dist
run npx kvx --inline auto example.js
check "npx kvx --inline auto example.js" \
  eval 'is_status 0 && has "[INLINE] Annotations: " && test -f generated/example.ts && test -f dist/example.js'
expected_run=$(node example.js 2>&1)
check "the compiled dist/example.js does what example.js does" \
  eval '[ "$(node dist/example.js 2>&1)" = "$expected_run" ]'

# Without the platform package the launcher says so in one line.
mv node_modules/kvx-linux-x64 "$work/kvx-linux-x64.aside"
run npx kvx --version
check "without kvx-linux-x64: one line naming the platform, exit status 1" \
  eval 'is_status 1 && [ "$(wc -l <<<"$out")" = 1 ] && has "kvx-linux-x64" && has "linux-x64"'
mv "$work/kvx-linux-x64.aside" node_modules/kvx-linux-x64

# --- The Windows package -------------------------------------------------------
# Into a project of its own; npm refuses a package for another system named
# on the command line, --force lets it in.
windows=$work/windows
mkdir -p "$windows"
cd "$windows"
printf '{\n  "name": "kvx-npm-check-windows",\n  "private": true\n}\n' >package.json
cp "$work/pack/kvx-$version.tgz" "$work/pack/kvx-win32-x64-$version.tgz" .
run npm install --force "./kvx-$version.tgz" "./kvx-win32-x64-$version.tgz"
check "npm install of the Windows tarballs, offline" eval 'is_status 0'
# The path the launcher resolves on win32 (on Windows itself, its run() starts it).
exe=$(node -e 'const found = require("kvx/bin/kvx.js").findBinary("win32", "x64");
  console.log(found.path || found.error)')
check "on win32 the launcher picks kvx-win32-x64/bin/kvx.exe" \
  test "$exe" = "$windows/node_modules/kvx-win32-x64/bin/kvx.exe"
check "that kvx.exe is the MinGW build" cmp "$exe" "$root/build-windows/kvx.exe"

export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" HOME=$work/home
mkdir -p "$HOME"
unset DISPLAY
wine cmd /c exit >/dev/null 2>&1 || true
wineserver -w
wineserver -p >/dev/null 2>&1
echo "npm-package: Wine prefix ready after $(($(date +%s) - started)) s"

# The launcher's run() with wine in front of the resolved kvx.exe: the same
# arguments, streams, working directory and exit status as on Windows.
through_launcher() {
  run node -e 'const launcher = require("kvx/bin/kvx.js");
    launcher.run("wine", [launcher.findBinary("win32", "x64").path, ...process.argv.slice(1)]);' -- "$@"
}
cp "$root/examples/inventory.js" example.js
through_launcher w example.js
check "Wine: kvx.exe w example.js through the launcher" eval 'is_status 0 && has "generated"'
check "Wine: generated/example.ts is the golden output" \
  cmp <(tr -d '\r' <generated/example.ts) "$root/tests/golden/inventory.ts"
through_launcher --version
check "Wine: kvx.exe --version prints $version" eval 'is_status 0 && has "version $version"'
through_launcher w missing.js
check "Wine: kvx.exe w missing.js: exit status 1, in red" eval 'is_status 1 && has "$red"'

echo "npm-package: done after $(($(date +%s) - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
