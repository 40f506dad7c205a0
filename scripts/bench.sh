#!/bin/bash
# The program's cost against what it cannot avoid, as ratios of medians of RUNS
# runs (default 9), measured side by side in one fresh prefix per edition
# (setup.exe in a 32-bit prefix, then setup64.exe in a 64-bit one):
#  - a quiet run that ends at "no controller", against a floor program that only
#    lists the present devices and reads their hardware IDs;
#  - the same with 1,000 more root-enumerated devices present, against the floor
#    over the same devices;
#  - a quiet run that updates the driver (1.0.0.1 in place, 2.0.0.5 packaged),
#    against a floor program that makes only the update call that the program
#    makes, on the same INF for the same hardware ID; the old driver is put back
#    before each run of either; measured before the 1,000 devices come;
#  - a quiet upgrade of the utility alone (1.2.9 in place, 1.2.10 packaged, the
#    driver current), against a floor program that takes the same steps and
#    nothing around them: export the settings, remove, install into the same
#    folder, import, stop and start the service; 1.2.9 is put back (and the
#    setup's machine folder emptied) before each run of either;
#  - a check (/C /QN) of that machine, against the device floor;
#  - the program's size and peak memory (resident set of the Wine process, the
#    no-controller run), beside the floor's.
#   scripts/bench.sh [--x86|--x64]   one edition only
# On a machine that runs no 32-bit program (or with ONLY_64BIT=1, see
# scripts/testbed.sh) only setup64.exe is measured.
# BUILD_DIR and BUILD_DIR64 (default build, build64) name the build folders.
set -eu
cd "$(dirname "$0")/.."
runs=${RUNS:-9}
extra_devices=${EXTRA_DEVICES:-1000}
case "${1:-}" in
  --x86) editions=x86 ;;
  --x64) editions=x64 ;;
  "") editions="x86 x64" ;;
  *) echo "usage: scripts/bench.sh [--x86|--x64]" >&2; exit 2 ;;
esac
scripts/install-deps.sh || { echo "installing the dependencies (scripts/install-deps.sh) failed" >&2; exit 1; }
. scripts/testbed.sh
testbed_machine "$@"
if [ "$TESTBED_32BIT" = 0 ]; then
  [ "$editions" != x86 ] || { echo "bench: setup.exe cannot be measured here: $LAB_NO_32BIT" >&2; exit 1; }
  [ "$editions" = x64 ] || echo "bench: setup64.exe only; setup.exe cannot start here"
  editions=x64
fi
scripts/build.sh >/dev/null
trap testbed_stop EXIT

median_of() { printf '%s\n' "$@" | sort -n | sed -n "$(((runs + 1) / 2))p"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

# One edition, in a fresh prefix: x86 (setup.exe, win32) or x64 (setup64.exe, win64).
bench_edition() {
  local build arch program
  if [ "$1" = x64 ]; then
    build=${BUILD_DIR64:-build64} arch=win64 program=setup64.exe
  else
    build=${BUILD_DIR:-build} arch=win32 program=setup.exe
  fi
  bench="$PWD/$build/bench"
  testbed_start "$bench" $arch
  # "$WINE" for win64 is Wine's 64-bit loader itself: `wine` would start a
  # 64-bit program through the 32-bit loader, some 40 ms more for every program.
  local wine=$WINE bin="$PWD/$build/bin"
  local log="$bench/prepare.log" run_log="$bench/run.log"
  w() { testbed_winpath "$1"; }
  # prepare WHAT COMMAND...: an untimed step that must succeed; warm COMMAND...:
  # a run whose end does not matter.
  prepare() {
    local what=$1
    shift
    testbed_step "bench, $program: $what" "$log" "$@"
  }
  warm() { "$@" >>"$log" 2>&1 || true; }

  # time_ms EXIT_CODE COMMAND...: the wall time of one run in ms, which must end
  # with EXIT_CODE.
  time_ms() {
    local want=$1 start end rc=0
    shift
    start=$(date +%s%N)
    "$@" >"$run_log" 2>&1 || rc=$?
    end=$(date +%s%N)
    [ $rc -eq "$want" ] ||
      testbed_fail "bench, $program: a timed run ended with $rc instead of $want ($*)" "$run_log"
    echo $(((end - start) / 1000000))
  }
  # Peak resident set of one run, in KiB: the Wine process is the Windows process.
  peak_kib() { /usr/bin/time -f %M -o "$bench/peak" "$@" >/dev/null 2>&1 || true; tail -n 1 "$bench/peak"; }

  # Medians of A and B (commands ending with A_CODE and B_CODE), run in turn
  # RUNS times, so that a slow spell of the machine weighs on both alike; PREPARE
  # runs untimed before each run of either, and Wine's services are given a
  # moment to finish what it set off (a driver put back starts its service),
  # which would otherwise land on whichever run comes next.
  side_by_side() {
    local a_times=() b_times=() a b
    for _ in $(seq "$runs"); do
      [ -z "${PREPARE:-}" ] || { $PREPARE; sleep 0.5; }
      a=$(time_ms "$A_CODE" $A)
      [ -z "${PREPARE:-}" ] || { $PREPARE; sleep 0.5; }
      b=$(time_ms "$B_CODE" $B)
      a_times+=("$a")
      b_times+=("$b")
    done
    echo "$(median_of "${a_times[@]}") $(median_of "${b_times[@]}")"
  }

  local absent="$bench/absent"
  mkdir -p "$absent"
  cp "$bin/$program" "$absent/"
  printf '[Install]\r\nDriverNum=1\r\n[Driver0]\r\nDeviceName=vraid\r\nDeviceID=PCI\\VEN_FFFF&DEV_ABSENT\r\n' \
    >"$absent/Inst.Inf"
  warm "$wine" "$bin/device_floor.exe"
  warm "$wine" "$absent/$program" /QN
  local no_controller floor many_program many_floor program_peak floor_peak devices
  # A subshell's failure does not stop the script: an empty line then does.
  read -r no_controller floor < <(A="$wine $absent/$program /QN" A_CODE=3 B="$wine $bin/device_floor.exe" B_CODE=0 \
    side_by_side) || exit 1
  program_peak=$(peak_kib "$wine" "$absent/$program" /QN)
  floor_peak=$(peak_kib "$wine" "$bin/device_floor.exe")

  # On a machine as it usually is, before the 1,000 devices: setup.exe searches
  # the devices twice before its update call, which searches them once more,
  # and with that many the search alone, measured above, would make the figure.
  local id='PCI\VEN_1D5A&DEV_0BE7' product="$bench/product" inf old_inf updating driver_floor floor_for_check
  mkdir -p "$product/Drivers" "$bench/old"
  cp "$bin/$program" "$product/"
  printf '[Install]\r\nDriverNum=1\r\n[Driver0]\r\nDeviceName=vbench\r\nDeviceID=%s\r\n' "$id" >"$product/Inst.Inf"
  prepare "making the device $id" "$wine" "$bin/testbed_device.exe" create "$id"
  prepare "making the driver package 2.0.0.5" "$wine" "$bin/testbed_device.exe" package \
    "$(w "$product/Drivers/vbench")" vbench "$id" "05/01/2024,2.0.0.5" "$(w "$bin/drivers/2.0.0.5/vraid.sys")"
  prepare "making the driver package 1.0.0.1" "$wine" "$bin/testbed_device.exe" package \
    "$(w "$bench/old/vbench")" vbench "$id" "01/01/2020,1.0.0.1" "$(w "$bin/drivers/1.0.0.1/vraid.sys")"
  inf=$(w "$product/Drivers/vbench/vbench.inf")
  old_inf=$(w "$bench/old/vbench/vbench.inf")
  # Wine never copies a driver file over a newer one: the driver goes first.
  put_old_driver() {
    warm "$wine" "$bin/testbed_device.exe" uninstall-driver vbench
    prepare "putting the driver 1.0.0.1 back" "$wine" "$bin/testbed_device.exe" install-driver "$id" "$old_inf"
  }
  put_old_driver
  warm "$wine" "$bin/driver_floor.exe" "$id" "$inf"
  read -r updating driver_floor < <(PREPARE=put_old_driver A="$wine $product/$program /QN" A_CODE=0 \
    B="$wine $bin/driver_floor.exe $id $inf" B_CODE=0 side_by_side) || exit 1

  # The utility: the same controller, its driver current after the runs above.
  local utility="$bench/utility" apps="$bench/apps" upgrading utility_floor checking suffix=
  local code='{6D1B2C8E-3F4A-4E57-9A1C-2B7E5D0F9A31}'
  [ "$1" = x64 ] && suffix=-x64
  mkdir -p "$utility" "$apps"
  cp "$bin/$program" "$utility/"
  cp -r "$product/Drivers" "$utility/"
  cp "$bin/packages/ZelmonUtility-1.2.10$suffix.msi" "$utility/ZelmonUtility.msi"
  printf '[Install]\r\nMSI=ZelmonUtility.msi\r\nDriverNum=1\r\n[Driver0]\r\nDeviceName=vbench\r\nDeviceID=%s\r\n' \
    "$id" >"$utility/Inst.Inf"
  local old_package new_package target export
  old_package=$(w "$bin/packages/ZelmonUtility-1.2.9$suffix.msi")
  new_package=$(w "$utility/ZelmonUtility.msi")
  target=$(w "$apps")
  export=$(w "$bench/settings.reg")
  put_old_utility() {
    warm "$wine" msiexec /x "$code" /qn
    rm -rf "$WINEPREFIX/drive_c/ProgramData/VANTIRO" "$bench/settings.reg"
    prepare "installing the utility 1.2.9" "$wine" msiexec /i "$old_package" /qn "TARGETDIR=$target\\"
  }
  put_old_utility
  read -r upgrading utility_floor < <(PREPARE=put_old_utility A="$wine $utility/$program /QN" A_CODE=0 \
    B="$wine $bin/utility_floor.exe $code $new_package $target $export" B_CODE=0 side_by_side) || exit 1
  read -r checking floor_for_check < <(A="$wine $utility/$program /C /QN" A_CODE=0 B="$wine $bin/device_floor.exe" \
    B_CODE=0 side_by_side) || exit 1

  # Each device costs a process start: cmd's loop keeps it inside Windows.
  prepare "making $extra_devices more devices" "$wine" cmd /c \
    "for /L %i in (1,1,$extra_devices) do @$(w "$bin/testbed_device.exe") create ROOT_BENCH\\DEV_%i"
  "$wine" "$bin/testbed_device.exe" list >"$bench/devices.txt" 2>&1 ||
    testbed_fail "bench, $program: listing the devices" "$bench/devices.txt"
  devices=$(grep -c . "$bench/devices.txt" || true)
  read -r many_program many_floor < <(A="$wine $absent/$program /QN" A_CODE=3 B="$wine $bin/device_floor.exe" \
    B_CODE=0 side_by_side) || exit 1

  echo "== $program, medians of $runs in one $arch prefix"
  echo "no controller: $no_controller ms, device floor: $floor ms, ratio $(ratio "$no_controller" "$floor")"
  echo "with $devices devices present: $many_program ms, device floor: $many_floor ms," \
    "ratio $(ratio "$many_program" "$many_floor")"
  echo "updating the driver: $updating ms, driver floor: $driver_floor ms, ratio $(ratio "$updating" "$driver_floor")"
  echo "upgrading the utility: $upgrading ms, utility floor: $utility_floor ms," \
    "ratio $(ratio "$upgrading" "$utility_floor")"
  echo "checking (/C /QN): $checking ms, device floor: $floor_for_check ms, ratio $(ratio "$checking" "$floor_for_check")"
  echo "size: $(stat -c %s "$bin/$program") bytes; peak memory: $program_peak KiB, device floor: $floor_peak KiB"
  testbed_stop
}

for edition in $editions; do
  bench_edition "$edition"
done
