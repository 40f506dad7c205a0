# Sourced by the scripts that run Windows programs (test, demo, bench,
# screenshots), from the top of the worktree: what this machine can run, and a
# fresh Wine prefix under Xvfb.
#   testbed_machine "$@"              once, after scripts/install-deps.sh: finds
#                                     out whether this machine runs 32-bit
#                                     programs and prints one line saying so
#   testbed_start DIR [win32|win64]   makes a new prefix in DIR (32-bit unless
#                                     win64), starts Xvfb and a persistent wineserver
#   testbed_stop                      ends both
#   testbed_fail WHAT [LOG]           says that WHAT failed, shows LOG's last
#                                     lines and ends the script with 1
#   testbed_step WHAT LOG COMMAND...  runs COMMAND with its output added to LOG,
#                                     and testbed_fail WHAT LOG when it fails
#   testbed_winpath PATH              the Windows path of a Unix one
# After testbed_machine, TESTBED_32BIT is 1 or 0; with 0, LAB_NO_32BIT holds the
# reason and is exported, so that the x64 test programs skip what needs a 32-bit
# program (with 1 it is unset).
# After testbed_start, WINEPREFIX, WINEARCH, WINEDEBUG, DISPLAY and WINE are
# exported. WINE starts Windows programs in that prefix: Wine's 64-bit loader
# for a win64 prefix, so that Wine's own programs by name ("$WINE" reg, msiexec,
# winepath.exe, cmd) are the 64-bit ones and nothing needs the 32-bit loader,
# which a machine without 32-bit support cannot start; `wine` for win32.
#
# ONLY_64BIT=1 makes a machine that runs 32-bit programs behave as one that does
# not: testbed_machine starts the script again in a private mount namespace where
# Wine's 32-bit loader and 32-bit wineserver are a stand-in that fails as an
# i386 program fails there, so that anything still reaching them shows.

testbed_loader32=/usr/lib/wine/wine
testbed_server32=/usr/lib/wine/wineserver32

testbed_fail() {
  local log=${2:-}
  if [ -n "$log" ]; then
    echo "$1 failed: see ${log#"$PWD"/}" >&2
    if [ -s "$log" ]; then
      echo "--- last lines of ${log#"$PWD"/}:" >&2
      tail -n 15 "$log" | tr -d '\r' >&2
      echo "---" >&2
    fi
  else
    echo "$1 failed" >&2
  fi
  exit 1
}

testbed_step() {
  local what=$1 log=$2 rc=0
  shift 2
  "$@" >>"$log" 2>&1 || rc=$?
  [ $rc -eq 0 ] || testbed_fail "$what (exit code $rc)" "$log"
}

testbed_machine() {
  if [ "${ONLY_64BIT:-}" = 1 ] && [ -z "${TESTBED_ONLY_64BIT_APPLIED:-}" ]; then
    testbed_hide_32bit "$@"
  fi
  local out reason
  out=$(mktemp)
  if "$testbed_loader32" --version >"$out" 2>&1; then
    TESTBED_32BIT=1
    unset LAB_NO_32BIT
    echo "machine: runs 32-bit programs ($(head -n 1 "$out")): setup.exe and setup64.exe are run"
  else
    # The shell's own words for a failed exec name the script and line first.
    reason=$(grep . "$out" | tail -n 1 | sed 's/^.*: line [0-9]*: //')
    TESTBED_32BIT=0
    export LAB_NO_32BIT="${reason:-$testbed_loader32 does not start}"
    echo "machine: runs no 32-bit program ($LAB_NO_32BIT): setup64.exe only, in a 64-bit prefix"
  fi
  rm -f "$out"
}

# Starts the calling script again, with the same arguments, where the 32-bit
# loader and wineserver fail; unshare and mount need root.
testbed_hide_32bit() {
  local standin script
  script="$PWD/scripts/$(basename "$0")"
  standin=$(mktemp)
  printf '#!/bin/sh\necho "$0: Exec format error" >&2\nexit 126\n' >"$standin"
  chmod 755 "$standin"
  export TESTBED_ONLY_64BIT_APPLIED=1
  # The bind mounts keep the stand-in's file after its name is gone. In a
  # chroot the root is no mount whose propagation unshare could make private:
  # there the loaders' folder becomes a private mount of its own first (a
  # self-bind, which reaches the host only if its mounts are shared).
  local propagation=private
  unshare -m --propagation private true 2>/dev/null || propagation=unchanged
  exec unshare -m --propagation $propagation sh -c '
    standin=$1 loader=$2 server=$3
    shift 3
    folder=$(dirname "$loader")
    if [ "$0" = unchanged ] && ! { mount --bind "$folder" "$folder" && mount --make-private "$folder"; }; then
      echo "ONLY_64BIT=1: making $folder a private mount failed" >&2
      exit 1
    fi
    if ! mount --bind "$standin" "$loader" || ! mount --bind "$standin" "$server"; then
      echo "ONLY_64BIT=1: hiding $loader and $server (unshare -m, mount --bind; as root) failed" >&2
      rm -f "$standin"
      exit 1
    fi
    rm -f "$standin"
    exec "$@"' $propagation "$standin" "$testbed_loader32" "$testbed_server32" "$script" "$@"
}

testbed_winpath() {
  local out
  out=$(mktemp)
  "$WINE" winepath.exe -w "$1" >"$out" 2>/dev/null || { rm -f "$out"; testbed_fail "winepath.exe -w $1"; }
  tr -d '\r' <"$out"
  rm -f "$out"
}

testbed_start() {
  local dir=${1:?usage: testbed_start DIR [win32|win64]} arch=${2:-win32} bits=32
  case "$arch" in
    win32) WINE=wine ;;
    win64) WINE=/usr/lib/wine/wine64 bits=64 ;;
    *) echo "testbed_start: $arch is neither win32 nor win64" >&2; exit 1 ;;
  esac
  if [ "$arch" = win32 ] && [ "${TESTBED_32BIT:-1}" = 0 ]; then
    echo "making a 32-bit Wine prefix failed: this machine runs no 32-bit program ($LAB_NO_32BIT)" >&2
    exit 1
  fi
  rm -rf "$dir"
  mkdir -p "$dir"
  export WINEPREFIX="$dir/prefix" WINEARCH=$arch WINEDEBUG=-all WINE
  # Xvfb picks a free display itself: a display number chosen by looking at
  # /tmp/.X11-unix misses the servers of other file-system roots (a chroot),
  # whose abstract sockets still collide with ours.
  local i=0
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
  TESTBED_XVFB_PID=$!
  while [ ! -s "$dir/display" ] && [ $i -lt 100 ] && kill -0 "$TESTBED_XVFB_PID" 2>/dev/null; do
    sleep 0.1
    i=$((i + 1))
  done
  [ -s "$dir/display" ] || testbed_fail "starting Xvfb" "$dir/xvfb.log"
  export DISPLAY=":$(head -n 1 "$dir/display")"
  # One server for the whole run, so that each program starts quickly. The
  # wineserver script runs the 64-bit server whenever there is one, for 32-bit
  # prefixes too.
  mkdir -p "$WINEPREFIX"
  wineserver -p >"$dir/wineserver.log" 2>&1 || testbed_fail "starting the wineserver" "$dir/wineserver.log"
  # The first command makes the prefix; an explicit wineboot on top of that
  # would leave two service managers that answer in turn.
  # Without a window manager every hidden window would cost about two seconds.
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >"$dir/wineboot.log" 2>&1 ||
    testbed_fail "making the $bits-bit Wine prefix" "$dir/wineboot.log"
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >>"$dir/wineboot.log" 2>&1 ||
    testbed_fail "setting up the $bits-bit Wine prefix" "$dir/wineboot.log"
}

# Runs from EXIT traps of scripts with set -e: nothing here may fail the script.
testbed_stop() {
  if [ -n "${WINEPREFIX:-}" ]; then wineserver -k >/dev/null 2>&1 || true; fi
  if [ -n "${TESTBED_XVFB_PID:-}" ]; then kill "$TESTBED_XVFB_PID" >/dev/null 2>&1 || true; fi
  TESTBED_XVFB_PID=
}
