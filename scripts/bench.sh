#!/bin/bash
# The program's cost against what it cannot avoid, as ratios of medians of RUNS
# runs (default 9), measured side by side in one fresh prefix per edition
# (setup.exe in a 32-bit prefix, then setup64.exe in a 64-bit one):
#  - a quiet run that ends at "no controller", against a floor program that only
#    lists the present devices and reads their hardware IDs;
#  - the same with 1,000 more root-enumerated devices present, against the floor
#    over the same devices;
#  - a quiet run that updates the driver (1.0.0.1 in place, 2.0.0.5 packaged),
#    against the same run with the driver already current;
#  - the program's size and peak memory (resident set of the Wine process, the
#    no-controller run), beside the floor's.
#   scripts/bench.sh [--x86|--x64]   one edition only
# BUILD_DIR and BUILD_DIR64 (default build, build64) name the build folders.
set -eu
cd "$(dirname "$0")/.."
runs=${RUNS:-9}
extra_devices=${EXTRA_DEVICES:-1000}
if [ -z "${1:-}" ]; then
  scripts/install-deps.sh
  scripts/build.sh >/dev/null
  BENCH_BUILT=1 "$0" --x86
  BENCH_BUILT=1 "$0" --x64
  exit 0
fi
# `wine` would start a 64-bit program through the 32-bit loader, which hands it
# on to wine64: some 40 ms more for every program alike.
if [ "$1" = --x64 ]; then
  build=${BUILD_DIR64:-build64} arch=win64 program=setup64.exe wine=/usr/lib/wine/wine64
else
  build=${BUILD_DIR:-build} arch=win32 program=setup.exe wine=wine
fi
if [ -z "${BENCH_BUILT:-}" ]; then
  scripts/install-deps.sh
  scripts/build.sh >/dev/null
fi
. scripts/testbed.sh
trap testbed_stop EXIT
bench="$PWD/$build/bench"
testbed_start "$bench" $arch
bin="$PWD/$build/bin"
w() { winepath -w "$1"; }
quietly() { "$@" >>"$bench/prepare.log" 2>&1 || true; }

time_ms() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}
median_of() { printf '%s\n' "$@" | sort -n | sed -n "$(((runs + 1) / 2))p"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
# Peak resident set of one run, in KiB: the Wine process is the Windows process.
peak_kib() { /usr/bin/time -f %M -o "$bench/peak" "$@" >/dev/null 2>&1 || true; tail -n 1 "$bench/peak"; }

# Medians of A and B, run in turn RUNS times, so that a slow spell of the
# machine weighs on both alike; PREPARE_A runs untimed before each A.
side_by_side() {
  local a_times=() b_times=()
  for _ in $(seq "$runs"); do
    [ -n "${PREPARE_A:-}" ] && $PREPARE_A
    a_times+=($(time_ms $A))
    b_times+=($(time_ms $B))
  done
  echo "$(median_of "${a_times[@]}") $(median_of "${b_times[@]}")"
}

absent="$bench/absent"
mkdir -p "$absent"
cp "$bin/$program" "$absent/"
printf '[Install]\r\nDriverNum=1\r\n[Driver0]\r\nDeviceName=vraid\r\nDeviceID=PCI\\VEN_FFFF&DEV_ABSENT\r\n' \
  >"$absent/Inst.Inf"
quietly "$wine" "$bin/device_floor.exe"
quietly "$wine" "$absent/$program" /QN
read -r no_controller floor < <(A="$wine $absent/$program /QN" B="$wine $bin/device_floor.exe" side_by_side)
program_peak=$(peak_kib "$wine" "$absent/$program" /QN)
floor_peak=$(peak_kib "$wine" "$bin/device_floor.exe")

# Each device costs a process start: cmd's loop keeps it inside Windows.
quietly "$wine" cmd /c "for /L %i in (1,1,$extra_devices) do @$(w "$bin/testbed_device.exe") create ROOT_BENCH\\DEV_%i"
devices=$("$wine" "$bin/testbed_device.exe" list 2>/dev/null | grep -c . || true)
read -r many_program many_floor < <(A="$wine $absent/$program /QN" B="$wine $bin/device_floor.exe" side_by_side)

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
read -r updating current < <(PREPARE_A=put_old_driver A="$wine $product/$program /QN" \
  B="$wine $product/$program /QN" side_by_side)

echo "== $program, medians of $runs in one $arch prefix"
echo "no controller: $no_controller ms, device floor: $floor ms, ratio $(ratio "$no_controller" "$floor")"
echo "with $devices devices present: $many_program ms, device floor: $many_floor ms," \
  "ratio $(ratio "$many_program" "$many_floor")"
echo "updating the driver: $updating ms, driver already current: $current ms, ratio $(ratio "$updating" "$current")"
echo "size: $(stat -c %s "$bin/$program") bytes; peak memory: $program_peak KiB, device floor: $floor_peak KiB"
