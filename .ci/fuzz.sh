#!/bin/sh
# Builds the libFuzzer targets of fuzz/ with clang and runs each for a bounded
# time from the seed corpus. Fails on any crash, sanitizer report, timeout
# (an input slower than 2 s) or out-of-memory; the input that caused it is
# left in build-fuzz/artifacts/.
# FUZZ_SECONDS sets the time per target (default 90).
set -eu
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-90}"

if command -v apt-get >/dev/null 2>&1 && [ "$(id -u)" = 0 ]; then
  missing=""
  for package in clang-14 libclang-rt-14-dev cmake; do
    dpkg -s "$package" >/dev/null 2>&1 || missing="$missing $package"
  done
  if [ -n "$missing" ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq $missing >/dev/null
  fi
fi

launcher=""
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKVX_FUZZ=ON -DKVX_BUILD_TESTS=OFF $launcher
cmake --build build-fuzz -j2 --target tokenizer_fuzz pipeline_fuzz inline_fuzz

mkdir -p build-fuzz/artifacts
for target in tokenizer_fuzz pipeline_fuzz inline_fuzz; do
  # The seeds stay untouched; new inputs go to a working corpus per target.
  corpus="build-fuzz/corpus-$target"
  mkdir -p "$corpus"
  log="build-fuzz/$target.log"
  echo "== $target for ${seconds}s"
  status=0
  "build-fuzz/fuzz/$target" "$corpus" fuzz/corpus -dict=fuzz/js.dict \
    -max_total_time="$seconds" -timeout=2 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix=build-fuzz/artifacts/"$target"- >"$log" 2>&1 || status=$?
  tail -n 40 "$log"
  if [ "$status" != 0 ]; then
    echo "$target failed (status $status); the input is in build-fuzz/artifacts/" >&2
    exit 1
  fi
done
