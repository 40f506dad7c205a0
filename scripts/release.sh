#!/bin/sh
# Builds the release from a clean tree into out/: both programs without any
# test program, then out/vantiro-raid-setup-<version>.zip (setup.exe,
# setup64.exe, a commented Inst.Inf, the deployment guide and its pictures).
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh || { echo "installing the dependencies (scripts/install-deps.sh) failed" >&2; exit 1; }
rm -rf out
BUILD_DIR=out/build BUILD_DIR64=out/build64 BUILD_OPTIONS=-DBUILD_TESTING=OFF scripts/build.sh
(cd out/build && cpack -G ZIP -B "$PWD/.." >cpack.log 2>&1) ||
  { echo "making the release package (cpack) failed: see out/build/cpack.log" >&2; tail -n 40 out/build/cpack.log >&2; exit 1; }
rm -rf out/_CPack_Packages
ls out/*.zip
