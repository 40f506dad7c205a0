# Sourced by the build and test scripts: a fresh Wine prefix under Xvfb.
#   testbed_start DIR [win32|win64]   makes a new prefix in DIR (32-bit unless
#                                     win64), starts Xvfb and a persistent wineserver
#   testbed_stop                      ends both
# After testbed_start, WINEPREFIX, WINEARCH, WINEDEBUG and DISPLAY are exported.
# In a win64 prefix `wine` runs a 64-bit program as such, but Wine's own
# programs by name (wine regedit, msiexec, reg) are their 32-bit copies:
# /usr/lib/wine/wine64 or `reg ... /reg:64` reach the 64-bit ones.

testbed_start() {
  local dir=${1:?usage: testbed_start DIR [win32|win64]} arch=${2:-win32}
  case "$arch" in
    win32 | win64) ;;
    *) echo "testbed_start: $arch is neither win32 nor win64" >&2; return 1 ;;
  esac
  rm -rf "$dir"
  mkdir -p "$dir"
  export WINEPREFIX="$dir/prefix" WINEARCH=$arch WINEDEBUG=-all
  # Xvfb picks a free display itself: a display number chosen by looking at
  # /tmp/.X11-unix misses the servers of other file-system roots (a chroot),
  # whose abstract sockets still collide with ours.
  local i=0
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
  TESTBED_XVFB_PID=$!
  while [ ! -s "$dir/display" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  export DISPLAY=":$(head -n 1 "$dir/display")"
  # One server for the whole run, so that each program starts quickly.
  mkdir -p "$WINEPREFIX"
  wineserver -p
  # The first command makes the prefix; an explicit wineboot on top of that
  # would leave two service managers that answer in turn.
  # Without a window manager every hidden window would cost about two seconds.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >"$dir/wineboot.log" 2>&1
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >>"$dir/wineboot.log" 2>&1
}

# Runs from EXIT traps of scripts with set -e: nothing here may fail the script.
testbed_stop() {
  if [ -n "${WINEPREFIX:-}" ]; then wineserver -k >/dev/null 2>&1 || true; fi
  if [ -n "${TESTBED_XVFB_PID:-}" ]; then kill "$TESTBED_XVFB_PID" >/dev/null 2>&1 || true; fi
  TESTBED_XVFB_PID=
}
