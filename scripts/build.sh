#!/bin/sh
# Configures and builds both programs with their test programs: the 32-bit
# setup.exe into build/ (or $BUILD_DIR), the 64-bit setup64.exe into build64/
# (or $BUILD_DIR64). The 64-bit test machine needs the 32-bit setup.exe and
# the x86 packages too: they are copied beside its test programs.
set -eu
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
build64=${BUILD_DIR64:-build64}

# failed WHAT LOG: says which step failed, where its output is, and its end.
failed() {
  echo "$1 failed: see $2" >&2
  echo "--- last lines of $2:" >&2
  tail -n 40 "$2" >&2
  echo "---" >&2
  exit 1
}

# build_for FOLDER ARCH BITS [CMAKE OPTION...]: configure and build with
# cmake/toolchain-ARCH-mingw.cmake.
build_for() {
  folder=$1 arch=$2 bits=$3
  shift 3
  mkdir -p "$folder"
  log=$folder/build.log
  cmake -S . -B "$folder" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$arch-mingw.cmake" -DCMAKE_BUILD_TYPE=Release "$@" \
    >"$log" 2>&1 || failed "configuring the $bits-bit build (cmake -B $folder)" "$log"
  cmake --build "$folder" -j"$(nproc)" >>"$log" 2>&1 ||
    failed "building the $bits-bit programs (cmake --build $folder)" "$log"
}

# The 32-bit build makes the release package, which takes setup64.exe too.
case $build64 in
  /*) setup64=$build64/bin/setup64.exe ;;
  *) setup64=$PWD/$build64/bin/setup64.exe ;;
esac
build_for "$build" i686 32 -DSETUP64_EXE="$setup64" ${BUILD_OPTIONS:-}
build_for "$build64" x86_64 64 ${BUILD_OPTIONS:-}
if [ -d "$build64/bin/packages" ]; then
  cp "$build/bin/setup.exe" "$build64/bin/setup.exe" &&
    cp "$build"/bin/packages/*.msi "$build64/bin/packages/" ||
    { echo "copying setup.exe and the x86 packages from $build/bin into $build64/bin failed" >&2; exit 1; }
fi
echo "built: $build/bin/setup.exe $build64/bin/setup64.exe"
