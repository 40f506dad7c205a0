#!/bin/bash
# Times a quiet run of setup.exe that ends at "no controller" against Wine's
# start of a trivial GUI program, in one fresh prefix; prints the median of
# RUNS runs of each (default 9), in milliseconds.
set -eu
cd "$(dirname "$0")/.."
runs=${RUNS:-9}
scripts/install-deps.sh
scripts/build.sh >/dev/null
. scripts/testbed.sh
trap testbed_stop EXIT
testbed_start "$PWD/build/bench"
product="$PWD/build/bench/product"
mkdir -p "$product"
cp build/bin/setup.exe "$product/"
printf '[Install]\r\nDriverNum=1\r\n[Driver0]\r\nDeviceName=vraid\r\nDeviceID=PCI\\VEN_FFFF&DEV_ABSENT\r\n' >"$product/Inst.Inf"

median_ms() {
  local times=() start end
  for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    times+=($(( (end - start) / 1000000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p"
}

wine build/bin/trivial.exe >/dev/null 2>&1 || true
trivial=$(median_ms wine build/bin/trivial.exe)
quiet=$(median_ms wine "$product/setup.exe" /QN)
echo "setup.exe size: $(stat -c %s build/bin/setup.exe) bytes"
echo "trivial program start, median of $runs: $trivial ms"
echo "setup.exe /QN, no controller, median of $runs: $quiet ms"
