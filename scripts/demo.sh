#!/bin/bash
# Builds setup.exe and runs it once on the sample product folder in a fresh Wine
# prefix whose simulated RAID controller carries the sample's hardware ID.
#   scripts/demo.sh            the automated user answers Yes, then OK
#   scripts/demo.sh /QN        quiet run
#   scripts/demo.sh --no       the automated user answers No
# Prints every box shown, the exit code and the debug log.
set -eu
cd "$(dirname "$0")/.."
answers=yes,ok
args=()
for a in "$@"; do
  case "$a" in
    --no) answers=no ;;
    *) args+=("$a") ;;
  esac
done
scripts/install-deps.sh
scripts/build.sh
. scripts/testbed.sh
trap testbed_stop EXIT
testbed_start "$PWD/build/demo"
product="$PWD/build/demo/product"
mkdir -p "$product"
cp samples/product/Inst.Inf build/bin/setup.exe "$product/"
hardware_id=$(sed -n 's/^DeviceID=//p' samples/product/Inst.Inf | head -n 1 | tr -d '\r')
wine build/bin/testbed_device.exe create "$hardware_id" >build/demo/device.txt 2>&1
echo "simulated controller: $hardware_id ($(tr -d '\r' <build/demo/device.txt))"
wine build/bin/testbed_run.exe --answers "$answers" -- "$(winepath -w "$product/setup.exe")" "${args[@]}" \
  >build/demo/run.txt 2>&1 || true
tr -d '\r' <build/demo/run.txt
echo "--- devupd.log"
if [ -f "$product/devupd.log" ]; then
  iconv -f UTF-16LE -t UTF-8 "$product/devupd.log" | tr -d '\r'
else
  echo "(none)"
fi
