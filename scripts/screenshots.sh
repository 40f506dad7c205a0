#!/bin/bash
# Takes the pictures of docs/deploy.md and README.md: every box setup.exe can
# show and its progress windows, in English and in Japanese, as PNG files of
# just that window in docs/screenshots/en/ and docs/screenshots/ja/. It runs the
# real 32-bit setup.exe under Xvfb in a fresh 32-bit prefix (on a machine that
# runs no 32-bit program, or with ONLY_64BIT=1: setup64.exe, whose boxes are
# the same, in a fresh 64-bit prefix, see scripts/testbed.sh), builds each
# machine state with the test bed (a simulated controller, driver packages, the
# utility through msiexec, the newdev.dll double) and lets testbed_run hold each
# box a moment before it answers, while xdotool finds the window and ImageMagick
# takes it (about a minute and a half). Rerun it after a change to a box or a
# text: it replaces all 24 pictures (the same run gives the same files), and
# leaves them alone when one of them could not be taken.
# BUILD_DIR and BUILD_DIR64 name the build folders, as for scripts/build.sh.
# SCREENSHOT_DPI=144 (150%) takes the English upgrade run's windows at that
# screen DPI into <build>/screenshots-144dpi/ instead, to look at how the
# program scales; docs/ is left alone.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh || { echo "installing the dependencies (scripts/install-deps.sh) failed" >&2; exit 1; }
. scripts/testbed.sh
testbed_machine "$@"
scripts/build.sh
# Wine finds fonts through fontconfig each time a program starts; without a
# Japanese one the Japanese texts come out as squares.
if ! fc-list :lang=ja family | grep -q .; then
  echo "no Japanese font: scripts/install-deps.sh installs fonts-ipafont-gothic" >&2
  exit 1
fi
trap testbed_stop EXIT

if [ "$TESTBED_32BIT" = 1 ]; then
  build=${BUILD_DIR:-build} arch=win32 program=setup.exe suffix=
else
  # The x86 packages' service is a 32-bit program too: the x64 ones.
  build=${BUILD_DIR64:-build64} arch=win64 program=setup64.exe suffix=-x64
  echo "screenshots: setup64.exe in a 64-bit prefix, since setup.exe cannot start here"
fi
work="$PWD/$build/screenshots"
bin="$PWD/$build/bin"
names="confirm-utility confirm-driver restart completed already-installed no-controller no-files wrong-os failed
  progress-removing progress-installing progress-updating"
product_code='{6D1B2C8E-3F4A-4E57-9A1C-2B7E5D0F9A31}'
hold_ms=2000

rm -rf "$work"
mkdir -p "$work"
# Debian keeps Wine's own fonts (fonts-wine) where its Wine does not look:
# fontconfig shows them to it, so that boxes have Tahoma and the caption's
# close button its Marlett cross instead of an "r".
cat >"$work/fonts.conf" <<'EOF'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <include>/etc/fonts/fonts.conf</include>
  <dir>/usr/share/wine/fonts</dir>
</fontconfig>
EOF
export FONTCONFIG_FILE="$work/fonts.conf"
testbed_start "$work/bed" $arch
dpi=${SCREENSHOT_DPI:-}
if [ -n "$dpi" ]; then
  testbed_step "screenshots: setting $dpi DPI" "$work/prepare.log" "$WINE" reg add 'HKCU\Control Panel\Desktop' \
    /v LogPixels /t REG_DWORD /d "$dpi" /f
fi
log="$work/prepare.log"
quiet() { "$@" >>"$log" 2>&1; }
# step WHAT COMMAND...: a step of the machine's making, which must succeed.
step() {
  local what=$1
  shift
  testbed_step "screenshots: $what" "$log" "$@"
}
w() { testbed_winpath "$1"; }
# With Tahoma there, Japanese text takes the font that Windows links to it (MS
# UI Gothic), and the progress window asks for MS PGothic: both are the IPA
# font here. LC_ALL gives reg the UTF-8 of the name.
LC_ALL=ja_JP.UTF-8 step "setting the Japanese fonts" "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' \
  /v 'MS UI Gothic' /d IPAPGothic /f
LC_ALL=ja_JP.UTF-8 step "setting the Japanese fonts" "$WINE" reg add 'HKCU\Software\Wine\Fonts\Replacements' \
  /v 'ＭＳ Ｐゴシック' /d IPAPGothic /f

# The machine: the sample's controller with the older driver (1.0.0.1) in place.
hardware_id=$(sed -n 's/^DeviceID=//p' samples/product/Inst.Inf | head -n 1 | tr -d '\r')
service=$(sed -n 's/^DeviceName=//p' samples/product/Inst.Inf | head -n 1 | tr -d '\r')
step "making the simulated controller" "$WINE" "$bin/testbed_device.exe" create "$hardware_id"
mkdir -p "$work/old"
step "making the driver package 1.0.0.1" "$WINE" "$bin/testbed_device.exe" package "$(w "$work/old/$service")" \
  "$service" "$hardware_id" "01/01/2020,1.0.0.1" "$(w "$bin/drivers/1.0.0.1/vraid.sys")"
step "installing the driver 1.0.0.1" "$WINE" "$bin/testbed_device.exe" install-driver "$hardware_id" \
  "$(w "$work/old/$service/$service.inf")"
# Driver updates go to the newdev.dll double, which answers as set by newdev
# (result, restart, delay in ms) and leaves the installed driver as it is.
cp "$bin/doubles/newdev.dll" "$WINEPREFIX/drive_c/windows/system32/newdev.dll"
step "putting the newdev.dll double in place" "$WINE" reg add \
  "HKCU\\Software\\Wine\\AppDefaults\\$program\\DllOverrides" /v newdev /d native /f
newdev() {
  local key='HKLM\Software\VantiroTestBed\NewdevDouble'
  quiet "$WINE" reg add "$key" /v Result /t REG_DWORD /d "$1" /f
  quiet "$WINE" reg add "$key" /v Reboot /t REG_DWORD /d "$2" /f
  quiet "$WINE" reg add "$key" /v Delay /t REG_DWORD /d "$3" /f
  quiet "$WINE" reg add "$key" /v LastError /t REG_DWORD /d 31 /f
}

# Product folders: FOLDER and sed expressions for its Inst.Inf (none: no Inst.Inf).
product() {
  local folder="$work/$1"
  shift
  mkdir -p "$folder/Drivers"
  cp "$bin/$program" "$folder/"
  cp "$bin/packages/ZelmonUtility-1.2.10$suffix.msi" "$folder/ZelmonUtility.msi"
  step "making the driver package 2.0.0.5 in $folder" "$WINE" "$bin/testbed_device.exe" package \
    "$(w "$folder/Drivers/$service")" "$service" "$hardware_id" "05/01/2024,2.0.0.5" \
    "$(w "$bin/drivers/2.0.0.5/vraid.sys")"
  if [ $# -gt 0 ]; then sed "$@" samples/product/Inst.Inf >"$folder/Inst.Inf"; fi
}
product full -e ''
product driver-only -e 's/^MSI=.*\r$/MSI=\r/'
product old-os -e 's/^OSVER=.*\r$/OSVER=99.0\r/'
product other-controller -e 's/^\(DeviceID=.*\)0100\r$/\1FFFF\r/'
product no-inst-inf

utility_version() {
  "$WINE" reg query "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product_code" \
    /v DisplayVersion >"$work/utility.txt" 2>&1 || true
  tr -d '\r' <"$work/utility.txt" | awk '$1 == "DisplayVersion" { print $3 }'
}
# Puts ZELMON VERSION in place (1.2.9 or 1.2.10).
utility() {
  local now
  now=$(utility_version)
  [ "$now" != "$1" ] || return 0
  [ -z "$now" ] || quiet "$WINE" msiexec /x "$product_code" /qn
  quiet "$WINE" msiexec /i "$(w "$bin/packages/ZelmonUtility-$1$suffix.msi")" /qn
  [ "$(utility_version)" = "$1" ]
}

# The next visible window of the program not yet in $taken: a box (captioned
# "VANTIRO RAID ...") or a progress window (no caption).
next_window() {
  local x title
  for x in $(xdotool search --onlyvisible --classname "^${program//./\\.}\$" 2>/dev/null); do
    case "$taken" in *" $x "*) continue ;; esac
    title=$(xdotool getwindowname "$x" 2>/dev/null) || continue
    case "$1:$title" in
      box:VANTIRO\ RAID*) echo "$x"; return ;;
      progress:) echo "$x"; return ;;
    esac
  done
}
# Dark pixels: the text is drawn.
drawn() { [ "$(convert "$1" -colorspace gray -format '%[fx:minima<0.25]' info: 2>/dev/null)" = 1 ]; }
# Takes window X into FILE once it shows its text: a box after a moment to
# draw itself, a progress window again and again until it does, or is gone.
take() {
  local x=$1 file=$2 i
  [ "$3" = progress ] || sleep 0.5
  for i in $(seq 1 100); do
    import -window "$x" "$file" 2>/dev/null || return 1
    if drawn "$file"; then return 0; fi
    sleep 0.02
  done
  return 1
}

# scene EXIT FOLDER ANSWERS KIND:NAME...: runs the program from FOLDER in the
# language $lang with the robot's ANSWERS (each box held hold_ms), takes the
# windows listed in the order they come (NAME "-": a box only waited for) into
# shots/$lang/, and checks the exit code. When progress windows are taken, the
# robot must have seen as many, so that a missed one cannot pass its name on to
# the next.
scene() {
  local code=$1 folder=$2 answers=$3 locale=C.UTF-8
  shift 3
  [ "$lang" = en ] || locale=ja_JP.UTF-8
  mkdir -p "$work/shots/$lang"
  local last=${!#}
  local run="$work/run-$lang-${last#*:}.txt"
  LC_ALL=$locale "$WINE" "$bin/testbed_run.exe" --hold $hold_ms --answers "$answers" -- \
    "$(w "$work/$folder/$program")" >"$run" 2>&1 &
  local pid=$! taken=" " ok=0 want kind name x
  for want in "$@"; do
    kind=${want%%:*} name=${want#*:} x=
    while [ -z "$x" ] && kill -0 $pid 2>/dev/null; do
      x=$(next_window "$kind")
      [ -n "$x" ] || sleep 0.02
    done
    [ -n "$x" ] || break
    taken="$taken$x "
    if [ "$name" != - ]; then take "$x" "$work/shots/$lang/$name.png" "$kind" || break; fi
    ok=$((ok + 1))
  done
  wait $pid || true
  local wanted seen
  wanted=$(printf '%s\n' "$@" | grep -c '^progress:' || true)
  seen=$(tr -d '\r' <"$run" | grep -c '^window: #32770 | .* | Static 1000 .' || true)
  if [ $ok -ne $# ] || ! tr -d '\r' <"$run" | grep -qx "exit code: $code" ||
    { [ "$wanted" -gt 0 ] && [ "$seen" -ne "$wanted" ]; }; then
    echo "$lang: $*: not taken (exit code $code expected), try again; the run:" >&2
    tr -d '\r' <"$run" >&2
    return 1
  fi
}
# Up to three tries, since a busy machine may hide a short progress window.
retry() { "$@" || "$@" || "$@" || testbed_fail "screenshots: taking $* (three tries)" "$log"; }

# The upgrade: 1.2.9 removed, 1.2.10 installed, the driver updated slowly
# enough for its window to be taken, no restart.
upgrade() {
  utility 1.2.9 && newdev 1 0 1500 &&
    scene 0 full yes,ok box:confirm-utility progress:progress-removing progress:progress-installing \
      progress:progress-updating box:completed
}
already() { utility 1.2.10 && newdev 1 0 0 && scene 0 full yes,ok box:- box:already-installed; }
# Answered No: Yes would restart the prefix.
restart() { utility 1.2.10 && newdev 1 1 0 && scene 0 full yes,no box:- box:restart; }
failed() { utility 1.2.10 && newdev 0 0 0 && scene 87 full yes,ok box:- box:failed; }

if [ -n "$dpi" ]; then
  lang=en
  retry upgrade
  mkdir -p "$build/screenshots-${dpi}dpi"
  for name in confirm-utility progress-removing progress-installing progress-updating completed; do
    convert "$work/shots/en/$name.png" -strip "$build/screenshots-${dpi}dpi/$name.png"
    echo "$build/screenshots-${dpi}dpi/$name.png $(identify -format '%wx%h' "$build/screenshots-${dpi}dpi/$name.png")"
  done
  exit 0
fi
for lang in en ja; do
  retry scene 1 no-inst-inf ok box:no-files
  retry scene 3 old-os ok box:wrong-os
  retry scene 3 other-controller ok box:no-controller
  retry scene 2 driver-only no box:confirm-driver
  retry upgrade
  retry already
  retry restart
  retry failed
done

# All or nothing: the pictures, without the time stamps that would make every
# rerun a change.
for lang in en ja; do
  for name in $names; do
    [ -s "$work/shots/$lang/$name.png" ] || { echo "missing: $lang/$name.png" >&2; exit 1; }
  done
done
for lang in en ja; do
  mkdir -p "docs/screenshots/$lang"
  for name in $names; do
    convert "$work/shots/$lang/$name.png" -strip -define png:exclude-chunks=date,time \
      "docs/screenshots/$lang/$name.png"
    echo "docs/screenshots/$lang/$name.png $(identify -format '%wx%h' "docs/screenshots/$lang/$name.png")"
  done
done
