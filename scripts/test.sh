#!/bin/bash
# Installs what is needed, builds both programs, and runs every test under
# Xvfb: the 32-bit suite in a fresh 32-bit Wine prefix, then the 64-bit one
# (setup64.exe's imports, the unit tests, the x64 scenarios) in a fresh 64-bit
# prefix. Fails when either fails.
# BUILD_DIR and BUILD_DIR64 (default build, build64) keep other builds apart;
# ctest arguments (-R NAME) pass through to both runs.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
. scripts/testbed.sh
trap testbed_stop EXIT
build=${BUILD_DIR:-build}
build64=${BUILD_DIR64:-build64}
status=0
testbed_start "$PWD/$build/testbed" win32
ctest --test-dir "$build" --output-on-failure --timeout 900 "$@" || status=1
testbed_stop
testbed_start "$PWD/$build64/testbed" win64
ctest --test-dir "$build64" --output-on-failure --timeout 900 "$@" || status=1
exit $status
