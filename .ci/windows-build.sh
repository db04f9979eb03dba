#!/bin/sh
# Cross-compiles the kvx executable for Windows with MinGW-w64 into
# build-windows/ (the tests are not built: they run on the host only).
set -eu
cd "$(dirname "$0")/.."

if ! command -v x86_64-w64-mingw32-g++ >/dev/null 2>&1; then
  echo "windows-build: x86_64-w64-mingw32-g++ not found (apt-get install g++-mingw-w64-x86-64)" >&2
  exit 1
fi

launcher=""
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
cmake -S . -B build-windows $launcher \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=Release \
  -DKVX_BUILD_TESTS=OFF
cmake --build build-windows -j2 --target kvx
ls -l build-windows/kvx.exe
