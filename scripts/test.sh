#!/bin/bash
# Installs what is needed, builds, and runs every test in a fresh Wine prefix under Xvfb.
# BUILD_DIR (default build) keeps a second build apart; ctest arguments (-R NAME) pass through.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
. scripts/testbed.sh
trap testbed_stop EXIT
build=${BUILD_DIR:-build}
testbed_start "$PWD/$build/testbed"
ctest --test-dir "$build" --output-on-failure --timeout 900 "$@"
