#!/bin/sh
# Configures and builds setup.exe and the test programs into build/ (or $BUILD_DIR).
set -eu
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
mkdir -p "$build"
log=$build/build.log
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake -DCMAKE_BUILD_TYPE=Release >"$log" 2>&1 ||
  { cat "$log"; exit 1; }
cmake --build "$build" -j"$(nproc)" >>"$log" 2>&1 || { tail -n 60 "$log"; exit 1; }
echo "built: $build/bin/setup.exe"
