#!/bin/sh
# ctest's emulator (cmake/toolchain-*.cmake): runs a Windows program of ARCH
# (win32 or win64) under Wine, with its output in a file: Wine's background
# processes would otherwise keep the caller's pipes open.
#   wine-run.sh ARCH PROGRAM [ARGUMENT...]
# A 64-bit program starts through Wine's 64-bit loader, which a machine without
# 32-bit support still runs. A 32-bit program cannot start where the machine
# runs no 32-bit program (LAB_NO_32BIT says why, or Wine's 32-bit loader fails
# to start): it is not run, and the exit code is 77, the tests' SKIP_RETURN_CODE
# (tests/CMakeLists.txt).
arch=$1
shift
out=$(mktemp)
if [ "$arch" = win64 ]; then
  wine=/usr/lib/wine/wine64
else
  wine=wine
  reason=${LAB_NO_32BIT:-}
  if [ -z "$reason" ] && ! /usr/lib/wine/wine --version >"$out" 2>&1; then
    reason=$(grep . "$out" | tail -n 1)
    reason=${reason:-/usr/lib/wine/wine does not start}
  fi
  if [ -n "$reason" ]; then
    rm -f "$out"
    echo "not run: $reason"
    exit 77
  fi
fi
"$wine" "$@" >"$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
exit $rc
