#!/bin/sh
# Builds the npm packages of kvx and packs them into OUT_DIR:
#   kvx-VERSION.tgz            the launcher (bin/kvx.js), which picks one of
#   kvx-linux-x64-VERSION.tgz  the Release build (build-release/kvx)
#   kvx-win32-x64-VERSION.tgz  the MinGW build (build-windows/kvx.exe)
# Builds what is missing or out of date first. VERSION is the one of
# project(kvx VERSION ...) in CMakeLists.txt, stamped into every package.json
# here; the folders below npm/ carry 0.0.0 in its place.
set -eu

if [ $# -ne 1 ]; then
  echo "usage: npm/pack.sh OUT_DIR" >&2
  exit 2
fi
mkdir -p "$1"
out=$(cd "$1" && pwd)
cd "$(dirname "$0")/.."
root=$(pwd)

for tool in node npm cmake; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "pack: $tool is not installed" >&2
    exit 1
  fi
done

version=$(sed -n 's/^project(kvx VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
if [ -z "$version" ]; then
  echo "pack: no project(kvx VERSION ...) in CMakeLists.txt" >&2
  exit 1
fi
# The program prints the version of src/cli/version.h: both must agree, or
# the packages would announce a version the program does not.
if ! grep -q "KVX_VERSION = \"$version\"" src/cli/version.h; then
  echo "pack: CMakeLists.txt says $version, src/cli/version.h says otherwise: make them agree" >&2
  exit 1
fi

# --- Builds -------------------------------------------------------------------
launcher=""
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
cmake -S . -B build-release $launcher -DCMAKE_BUILD_TYPE=Release -DKVX_BUILD_TESTS=OFF \
  -DKVX_STATIC_RUNTIME=ON >/dev/null
cmake --build build-release -j2 --target kvx
.ci/windows-build.sh

linux_kvx=$root/build-release/kvx
windows_kvx=$root/build-windows/kvx.exe
printed=$("$linux_kvx" --version)
case "$printed" in
  *" $version"*) ;;
  *) echo "pack: build-release/kvx prints '$printed', not version $version" >&2; exit 1 ;;
esac

# --- Packages -------------------------------------------------------------------
stage=$(mktemp -d /tmp/kvx-npm-stage.XXXXXX)
trap 'rm -rf "$stage"' EXIT
cp -R npm/kvx npm/linux-x64 npm/win32-x64 "$stage/"
mkdir -p "$stage/linux-x64/bin" "$stage/win32-x64/bin"
cp "$linux_kvx" "$stage/linux-x64/bin/kvx"
cp "$windows_kvx" "$stage/win32-x64/bin/kvx.exe"
chmod 755 "$stage/linux-x64/bin/kvx" "$stage/kvx/bin/kvx.js"

for package in kvx linux-x64 win32-x64; do
  # The version, and the launcher's pins on its platform packages: exactly
  # this version, so that a launcher never starts another release's binary.
  node -e '
    const fs = require("fs");
    const [file, version] = process.argv.slice(1);
    const manifest = JSON.parse(fs.readFileSync(file, "utf8"));
    manifest.version = version;
    for (const name of Object.keys(manifest.optionalDependencies || {})) {
      manifest.optionalDependencies[name] = version;
    }
    fs.writeFileSync(file, JSON.stringify(manifest, null, 2) + "\n");
  ' "$stage/$package/package.json" "$version"
  (cd "$stage/$package" && npm pack --pack-destination "$out" --loglevel=error >/dev/null)
done

for tarball in "kvx-$version.tgz" "kvx-linux-x64-$version.tgz" "kvx-win32-x64-$version.tgz"; do
  if [ ! -f "$out/$tarball" ]; then
    echo "pack: npm pack wrote no $tarball" >&2
    exit 1
  fi
  echo "pack: $out/$tarball ($(wc -c <"$out/$tarball") bytes)"
done
