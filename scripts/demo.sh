#!/bin/bash
# Builds setup.exe and runs it once on a sample product folder in a fresh Wine
# prefix: a simulated RAID controller with the sample's hardware ID, an older
# driver (1.0.0.1) and an older ZELMON utility (1.2.9) in place, and in the
# product folder the newer driver (2.0.0.5) and utility (1.2.10).
#   scripts/demo.sh            the automated user answers Yes, then OK
#   scripts/demo.sh /QN        quiet run
#   scripts/demo.sh --no       the automated user answers No
#   scripts/demo.sh --fresh    nothing installed before: a first installation
#   scripts/demo.sh --x64      on 64-bit Windows: an x64 utility and driver, and
#                              setup.exe handing the run over to setup64.exe
# On a machine that runs no 32-bit program (or with ONLY_64BIT=1, see
# scripts/testbed.sh) it is always the 64-bit demo, and setup64.exe is started
# directly, with LAB_NO_32BIT set.
# Prints every box and progress window shown (a window's text, when it appeared
# and for how long), the exit code, the debug log and what is installed afterwards.
# BUILD_DIR and BUILD_DIR64 name the build folders, as for scripts/build.sh.
set -eu
cd "$(dirname "$0")/.."
answers=yes,ok
fresh=0
x64=0
args=()
for a in "$@"; do
  case "$a" in
    --no) answers=no ;;
    --fresh) fresh=1 ;;
    --x64) x64=1 ;;
    *) args+=("$a") ;;
  esac
done
scripts/install-deps.sh || { echo "installing the dependencies (scripts/install-deps.sh) failed" >&2; exit 1; }
. scripts/testbed.sh
testbed_machine "$@"
scripts/build.sh
trap testbed_stop EXIT
if [ "$TESTBED_32BIT" = 0 ] && [ $x64 -eq 0 ]; then
  echo "demo: the 64-bit one (--x64), since setup.exe cannot start here"
  x64=1
fi
# The test programs, driver files and packages of the machine's platform;
# setup.exe is the 32-bit one either way, and starts setup64.exe where it can.
setup="$PWD/${BUILD_DIR:-build}/bin/setup.exe"
program=setup.exe
if [ $x64 -eq 1 ]; then
  build=${BUILD_DIR64:-build64} arch=win64 suffix=-x64 view=/reg:64
  if [ "$TESTBED_32BIT" = 0 ]; then
    echo "demo: setup64.exe started directly, as setup.exe would start it ($LAB_NO_32BIT)"
    program=setup64.exe
  fi
else
  build=${BUILD_DIR:-build} arch=win32 suffix= view=
fi
demo="$PWD/$build/demo"
testbed_start "$demo" $arch
bin="$PWD/$build/bin"
product="$demo/product"
log="$demo/prepare.log"
mkdir -p "$product/Drivers"
cp samples/product/Inst.Inf "$setup" "$product/"
cp "$bin/packages/ZelmonUtility-1.2.10.msi" "$product/ZelmonUtility.msi"
if [ $x64 -eq 1 ]; then
  cp "$bin/setup64.exe" "$product/"
  cp "$bin/packages/ZelmonUtility-1.2.10-x64.msi" "$product/ZelmonUtility-x64.msi"
  sed -i 's/^\[Install\]\r$/&\nMSI64=ZelmonUtility-x64.msi\r/' "$product/Inst.Inf"
fi
hardware_id=$(sed -n 's/^DeviceID=//p' samples/product/Inst.Inf | head -n 1 | tr -d '\r')
service=$(sed -n 's/^DeviceName=//p' samples/product/Inst.Inf | head -n 1 | tr -d '\r')
w() { testbed_winpath "$1"; }
# run WHAT PROGRAM [ARGUMENT...]: a preparation step, which must succeed.
run() {
  local what=$1
  shift
  testbed_step "preparing the demo: $what" "$log" "$WINE" "$@"
}
run "making the simulated controller" "$bin/testbed_device.exe" create "$hardware_id"
run "making the driver package 2.0.0.5" "$bin/testbed_device.exe" package "$(w "$product/Drivers/$service")" \
  "$service" "$hardware_id" "05/01/2024,2.0.0.5" "$(w "$bin/drivers/2.0.0.5/vraid.sys")"
echo "simulated controller: $hardware_id"
if [ $fresh -eq 0 ]; then
  mkdir -p "$demo/old"
  run "making the driver package 1.0.0.1" "$bin/testbed_device.exe" package "$(w "$demo/old/$service")" \
    "$service" "$hardware_id" "01/01/2020,1.0.0.1" "$(w "$bin/drivers/1.0.0.1/vraid.sys")"
  run "installing the driver 1.0.0.1" "$bin/testbed_device.exe" install-driver "$hardware_id" \
    "$(w "$demo/old/$service/$service.inf")"
  run "installing ZELMON 1.2.9$suffix with msiexec" msiexec /i "$(w "$bin/packages/ZelmonUtility-1.2.9$suffix.msi")" /qn
  echo "installed before: driver 1.0.0.1, ZELMON utility 1.2.9$suffix"
fi
"$WINE" "$bin/testbed_run.exe" --answers "$answers" -- "$(w "$product/$program")" "${args[@]}" \
  >"$demo/run.txt" 2>&1 || true
grep -q '^exit code: ' "$demo/run.txt" || testbed_fail "running $program under testbed_run.exe" "$demo/run.txt"
tr -d '\r' <"$demo/run.txt"
echo "--- devupd.log"
if [ -f "$product/devupd.log" ]; then
  # The machine's other devices are left out of the search lines.
  iconv -f UTF-16LE -t UTF-8 "$product/devupd.log" | tr -d '\r' |
    awk -v id="Device=$hardware_id" '/ Device=/ && index($0, id) == 0 { next } NF { print }'
  echo "(lines for the machine's other devices left out)"
else
  echo "(none)"
fi
echo "--- afterwards"
"$WINE" reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{6D1B2C8E-3F4A-4E57-9A1C-2B7E5D0F9A31}' \
  /v DisplayVersion $view >"$demo/after.txt" 2>&1 || true
tr -d '\r' <"$demo/after.txt" | grep DisplayVersion || echo "ZELMON utility: not installed"
"$WINE" reg query "HKLM\\SYSTEM\\CurrentControlSet\\Services\\$service" /v ImagePath >"$demo/after.txt" 2>&1 || true
tr -d '\r' <"$demo/after.txt" | grep ImagePath || echo "driver service: none"
