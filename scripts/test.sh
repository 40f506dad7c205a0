#!/bin/bash
# Installs what is needed, builds both programs, and runs every test under
# Xvfb: the 32-bit suite in a fresh 32-bit Wine prefix, then the 64-bit one
# (setup64.exe's imports, the unit tests, the x64 scenarios) in a fresh 64-bit
# prefix. Fails when a test that ran failed.
# On a machine that runs no 32-bit program (or with ONLY_64BIT=1, see
# scripts/testbed.sh) the 32-bit suite runs without Wine: its tests of the
# programs themselves (format, static analysis, imports, pictures, release
# package) run, and those that need Wine are reported as skipped with the
# reason; the 64-bit suite runs with LAB_NO_32BIT set, so that the x64
# scenarios skip what needs the 32-bit setup.exe.
# BUILD_DIR and BUILD_DIR64 (default build, build64) keep other builds apart;
# ctest arguments (-R NAME) pass through to both runs.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh || { echo "installing the dependencies (scripts/install-deps.sh) failed" >&2; exit 1; }
. scripts/testbed.sh
testbed_machine "$@"
scripts/build.sh
trap testbed_stop EXIT
build=${BUILD_DIR:-build}
build64=${BUILD_DIR64:-build64}
failed=()
# ctest keeps a skipped test's output to itself: its reason, from the log.
print_skipped() {
  awk '/^[0-9]+\/[0-9]+ Test: / { name = $3 } /^not run: / && !seen[name]++ { print "skipped: " name ": " $0 }' \
    "$1/Testing/Temporary/LastTest.log"
}
if [ "$TESTBED_32BIT" = 1 ]; then
  testbed_start "$PWD/$build/testbed" win32
  ctest --test-dir "$build" --output-on-failure --timeout 900 "$@" || failed+=("32-bit")
  testbed_stop
else
  echo "32-bit suite without Wine; the tests that need it are not run: $LAB_NO_32BIT"
  ctest --test-dir "$build" --output-on-failure --timeout 900 "$@" || failed+=("32-bit")
  print_skipped "$build"
fi
testbed_start "$PWD/$build64/testbed" win64
ctest --test-dir "$build64" --output-on-failure --timeout 900 "$@" || failed+=("64-bit")
print_skipped "$build64"
if [ ${#failed[@]} -gt 0 ]; then
  for suite in "${failed[@]}"; do
    [ "$suite" = 32-bit ] && dir=$build || dir=$build64
    echo "the $suite suite failed: see $dir/Testing/Temporary/LastTest.log" >&2
  done
  exit 1
fi
