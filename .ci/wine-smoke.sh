#!/bin/bash
# Runs the Windows build under Wine as a new user would: cross-compiles
# kvx.exe (and the Windows unit tests when GoogleTest's sources are on the
# machine), then in a fresh Wine prefix checks the main commands, compares
# the generated files with the Linux build's of the same sources, opens the
# launcher window under Xvfb and closes it, and runs the Windows unit tests.
# Installs Wine, Xvfb and xdotool from Debian packages when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
started=$(date +%s)

# --- Tools ------------------------------------------------------------------
need=()
command -v wine >/dev/null 2>&1 || need+=(wine wine64)
command -v Xvfb >/dev/null 2>&1 || need+=(xvfb)
command -v xdotool >/dev/null 2>&1 || need+=(xdotool)
command -v x86_64-w64-mingw32-g++ >/dev/null 2>&1 || need+=(g++-mingw-w64-x86-64)
if [ ${#need[@]} -gt 0 ]; then
  if ! command -v apt-get >/dev/null 2>&1 || [ "$(id -u)" != 0 ]; then
    echo "wine-smoke: missing ${need[*]} (apt-get install them as root)" >&2
    exit 1
  fi
  echo "wine-smoke: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
echo "wine-smoke: tools ready after $(($(date +%s) - started)) s"

# --- Builds -----------------------------------------------------------------
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# The Linux build of the same sources gives the files to compare with.
cmake -S . -B build "${launcher[@]}" >/dev/null
cmake --build build -j2 --target kvx >/dev/null
cmake -S . -B build-windows "${launcher[@]}" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DKVX_BUILD_TESTS=ON >/dev/null
targets=(kvx)
[ -f /usr/src/googletest/CMakeLists.txt ] && targets+=(kvx_windows_tests)
cmake --build build-windows -j2 --target "${targets[@]}" >/dev/null
echo "wine-smoke: builds ready after $(($(date +%s) - started)) s"

linux_kvx=$root/build/kvx
kvx_exe=$root/build-windows/kvx.exe

# --- A Wine prefix of its own -----------------------------------------------
work=$(mktemp -d /tmp/kvx-wine-smoke.XXXXXX)
xvfb_pid=""
cleanup() {
  WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The prefix links the user's Desktop to $HOME: a home of its own keeps the
# shortcut tests out of the real one.
export HOME=$work/home
mkdir -p "$HOME"
unset DISPLAY
wine cmd /c exit >/dev/null 2>&1 || true
# One Wine server, and the services it starts, for all the runs below instead
# of one per run; their output goes nowhere, so that no pipe of ours stays
# open behind them.
wineserver -w
wineserver -p >/dev/null 2>&1
wine cmd /c exit >/dev/null 2>&1 || true
profile=$(ls -d "$WINEPREFIX"/drive_c/users/*/Desktop | grep -v /Public/ | head -n 1)
rm -f "$profile" && mkdir -p "$profile"
echo "wine-smoke: prefix ready after $(($(date +%s) - started)) s"

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

# Runs a program under Wine in the current folder; its output (CR LF made
# LF) in $out, its exit status in $status. The output goes through a file:
# Wine may leave helpers behind that hold a pipe open.
run_program() {
  set +e
  wine "$@" </dev/null >"$work/output.txt" 2>&1
  status=$?
  set -e
  out=$(tr -d '\r' <"$work/output.txt")
}
run() { run_program "$kvx_exe" "$@"; }
has() { grep -qF -- "$1" <<<"$out" || { echo "  missing '$1' in:"; sed 's/^/    /' <<<"$out"; return 1; }; }
is_status() { [ "$status" = "$1" ] || { echo "  exit status $status, expected $1"; return 1; }; }
red=$'\e[0;31m'

mkdir -p "$work/win" "$work/linux"
cp examples/*.js "$work/win/"
cp examples/*.js "$work/linux/"
cd "$work/win"

run help
check "help" eval 'is_status 0 && has "Usage:" && has "kvx go, run [dir]"'
run version
check "version" eval 'is_status 0 && has "KORVEX (kvx) version 1.0.0"'

for source in "$root"/examples/*.js; do
  name=$(basename "$source")
  stem=${name%.js}
  run w "$name"
  check "w $name" eval 'is_status 0 && has "generated"'
  (cd "$work/linux" && "$linux_kvx" w "$name" >/dev/null)
  check "w $name: same output as the Linux build" \
    cmp <(tr -d '\r' <"generated/$stem.ts") "$work/linux/generated/$stem.ts"
done

# The queue, round trip.
run add inventory.js
check "add" eval 'is_status 0 && has "[OK] File added to runner: "'
run ls
check "ls" eval 'is_status 0 && has "1. inventory.js"'
run go
check "go" eval 'is_status 0 && has "[DONE] 1 / 1 file(s) transpiled successfully."'
run rm inventory.js
check "rm" eval 'is_status 0 && has "[OK] File removed: "'
run add geometry.js
run clear
check "clear" eval 'is_status 0 && has "[OK] Runner list cleared."'
run ls
check "ls after clear" eval 'has "(No files registered)"'
run hist
check "hist" eval 'is_status 0 && has "kvx add inventory.js" && has "kvx clear all"'
run errors
check "errors" eval 'is_status 0 && has "=== KVX Error History ==="'
run stats
check "stats" eval 'is_status 0 && has "Files transpiled      : " && has "Mode W executions     : "'

# Failures are red and exit 1.
run w missing.js
check "missing file" eval 'is_status 1 && has "$red"'
echo "text" >notes.txt
run w notes.txt
check ".txt file" eval 'is_status 1 && has "$red"'

# A folder scan through names that mean something to the command
# interpreter; a folder named like a source file is no file.
mkdir -p "scan dir/it's p%OS%q" "scan dir/sub dir/folder.js"
cp inventory.js "scan dir/it's p%OS%q/a.js"
cp geometry.js "scan dir/sub dir/b.js"
run go "scan dir"
check "folder scan" eval 'is_status 0 && has "[DONE] 2 / 2 file(s) transpiled successfully." && has "p%OS%q"'

# go transpiles a folder's next files ahead on threads: with four of them the
# console and the generated files are those of a run of one file after
# another (two files of each name, each written below generated/ at its own
# path in the folder's tree).
mkdir -p "many/sub dir"
cp "$root"/examples/*.js many/
cp "$root"/examples/*.js "many/sub dir/"
rm -rf generated
KVX_JOBS=1 run go many
one_out=$out
one_status=$status
cp -r generated "$work/generated-one"
rm -rf generated
KVX_JOBS=4 run go many
check "go with four threads: the console of one" eval 'is_status "$one_status" && [ "$out" = "$one_out" ] && has "[DONE] "'
check "go with four threads: the files of one" diff -r generated "$work/generated-one"

# With --inline the files of a folder run know what the others export: a
# relative require between folders with spaces resolves on Windows paths.
mkdir -p "proj dir/lib" "proj dir/app"
printf 'function scale(factor) { return factor; }\nmodule.exports = { scale };\n' > "proj dir/lib/calc.js"
printf "const calc = require('../lib/calc');\ncalc.scale(3);\nfunction run() { return calc.scale(4); }\n" > "proj dir/app/main.js"
rm -rf generated
run go "proj dir" --inline
check "folder run with --inline: the tree" eval 'is_status 0 && test -f generated/lib/calc.ts && test -f generated/app/main.ts'
check "folder run with --inline: types across files" eval 'grep -q "function scale(factor: number): number" generated/lib/calc.ts && grep -q "function run(): number" generated/app/main.ts'

# No Node.js in the prefix: mode g says so in red.
run g inventory.js
check "g without Node.js" eval 'is_status 1 && has "$red" && has "Node.js was not found."'

# Install with Wine's PowerShell, a stand-in that does nothing: the footprint
# is missing and install says so.
run install
check "install without PowerShell" eval 'is_status 1 && has "KORVEX is not fully installed" && ! has "KORVEX is installed." >/dev/null'
# A reinstall moves the installed program aside and leaves no copy of it.
installed=$(dirname "$profile")/KORVEX
run install
check "reinstall leaves no kvx.exe.old" eval 'test -f "$installed/kvx.exe" && ! test -e "$installed/kvx.exe.old"'
run_program "$installed/kvx.exe" version
check "the installed program runs" eval 'is_status 0 && has "KORVEX (kvx) version 1.0.0"'

# --- The launcher window under Xvfb -----------------------------------------
for display in $(seq 91 120); do
  [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] || break
done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.2; done
# The Wine server of the console runs and its desktop started without a
# display: a window would go nowhere. The launcher starts a server of its own.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true

wine "$kvx_exe" --gui >/dev/null 2>&1 &
gui_pid=$!
window=""
for _ in $(seq 120); do
  window=$(xdotool search --name "KORVEX .* JavaScript to TypeScript Pipeline" 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  sleep 0.5
done
check "launcher window appears with its title" test -n "$window"
gui_status=""
if [ -n "$window" ]; then
  sleep 1
  # The middle of the Close button (client 304..414 x 245..279): without a
  # window manager the X window is the client area.
  xdotool mousemove --window "$window" 359 262 click 1 || true
  for _ in $(seq 40); do kill -0 "$gui_pid" 2>/dev/null || break; sleep 0.5; done
fi
if kill -0 "$gui_pid" 2>/dev/null; then
  kill "$gui_pid" 2>/dev/null || true
  gui_status=killed
else
  set +e
  wait "$gui_pid"
  gui_status=$?
  set -e
fi
check "Close ends the launcher with 0 (got $gui_status)" test "$gui_status" = 0

# --- The Windows unit tests ---------------------------------------------------
if [ -f "$root/build-windows/kvx_windows_tests.exe" ]; then
  check "Windows unit tests" wine "$root/build-windows/kvx_windows_tests.exe" --gtest_brief=1
fi

echo "wine-smoke: done after $(($(date +%s) - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
