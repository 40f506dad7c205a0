#!/bin/bash
# Installs what is needed, builds, and runs every test in a fresh Wine prefix under Xvfb.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
. scripts/testbed.sh
trap testbed_stop EXIT
testbed_start "$PWD/build/testbed"
ctest --test-dir build --output-on-failure --timeout 900
