#!/bin/bash
# Medians of RUNS runs (default 9), in milliseconds, in one fresh prefix:
#  - a quiet run of setup.exe that ends at "no controller", against Wine's
#    start of a trivial GUI program and against a floor program that only lists
#    the present devices and reads their hardware IDs (with the ratio to it);
#  - a quiet run that updates a driver (1.0.0.1 in place, 2.0.0.5 packaged),
#    against the same run with the driver already current.
# With --x64 the same for setup64.exe in a 64-bit prefix, against the floor
# and trivial programs built for x64.
# BUILD_DIR and BUILD_DIR64 (default build, build64) name the build folders, as
# for scripts/build.sh.
set -eu
cd "$(dirname "$0")/.."
runs=${RUNS:-9}
# `wine` would start a 64-bit program through the 32-bit loader, which hands it
# on to wine64: some 40 ms more for every program alike.
if [ "${1:-}" = --x64 ]; then
  build=${BUILD_DIR64:-build64} arch=win64 program=setup64.exe wine=/usr/lib/wine/wine64
else
  build=${BUILD_DIR:-build} arch=win32 program=setup.exe wine=wine
fi
scripts/install-deps.sh
scripts/build.sh >/dev/null
. scripts/testbed.sh
trap testbed_stop EXIT
bench="$PWD/$build/bench"
testbed_start "$bench" $arch
bin="$PWD/$build/bin"
w() { winepath -w "$1"; }
quietly() { "$@" >>"$bench/prepare.log" 2>&1 || true; }

# Milliseconds of one run of "$@".
time_ms() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}
median_of() { printf '%s\n' "$@" | sort -n | sed -n "$(((runs + 1) / 2))p"; }

# Runs "$@" RUNS times with PREPARE (untimed) before each.
median_ms() {
  local times=()
  for _ in $(seq "$runs"); do
    [ -n "${PREPARE:-}" ] && $PREPARE
    times+=($(time_ms "$@"))
  done
  median_of "${times[@]}"
}

absent="$bench/absent"
mkdir -p "$absent"
cp "$bin/$program" "$absent/"
printf '[Install]\r\nDriverNum=1\r\n[Driver0]\r\nDeviceName=vraid\r\nDeviceID=PCI\\VEN_FFFF&DEV_ABSENT\r\n' \
  >"$absent/Inst.Inf"
quietly "$wine" "$bin/trivial.exe"
trivial=$(median_ms "$wine" "$bin/trivial.exe")
# The floor and the program take turns, so that a slow spell of the machine
# weighs on both alike.
quietly "$wine" "$bin/device_floor.exe"
quietly "$wine" "$absent/$program" /QN
floor_times=()
absent_times=()
for _ in $(seq "$runs"); do
  floor_times+=($(time_ms "$wine" "$bin/device_floor.exe"))
  absent_times+=($(time_ms "$wine" "$absent/$program" /QN))
done
floor=$(median_of "${floor_times[@]}")
no_controller=$(median_of "${absent_times[@]}")

id='PCI\VEN_1D5A&DEV_0BE7'
product="$bench/product"
mkdir -p "$product/Drivers" "$bench/old"
cp "$bin/$program" "$product/"
printf '[Install]\r\nDriverNum=1\r\n[Driver0]\r\nDeviceName=vbench\r\nDeviceID=%s\r\n' "$id" >"$product/Inst.Inf"
quietly "$wine" "$bin/testbed_device.exe" create "$id"
quietly "$wine" "$bin/testbed_device.exe" package "$(w "$product/Drivers/vbench")" vbench "$id" "05/01/2024,2.0.0.5" \
  "$(w "$bin/drivers/2.0.0.5/vraid.sys")"
quietly "$wine" "$bin/testbed_device.exe" package "$(w "$bench/old/vbench")" vbench "$id" "01/01/2020,1.0.0.1" \
  "$(w "$bin/drivers/1.0.0.1/vraid.sys")"
put_old_driver() {
  quietly "$wine" "$bin/testbed_device.exe" uninstall-driver vbench
  quietly "$wine" "$bin/testbed_device.exe" install-driver "$id" "$(w "$bench/old/vbench/vbench.inf")"
}
updating=$(PREPARE=put_old_driver median_ms "$wine" "$product/$program" /QN)
current=$(median_ms "$wine" "$product/$program" /QN)

echo "$program size: $(stat -c %s "$bin/$program") bytes"
echo "trivial program start, median of $runs: $trivial ms"
echo "device floor (list present devices, read hardware IDs), median of $runs: $floor ms"
echo "$program /QN ending at no controller, median of $runs: $no_controller ms"
echo "no controller / device floor: $(awk -v a="$no_controller" -v b="$floor" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }')"
echo "$program /QN updating the driver, median of $runs: $updating ms"
echo "$program /QN with the driver current, median of $runs: $current ms"
