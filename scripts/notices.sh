#!/bin/sh
# Writes THIRD-PARTY-NOTICES.txt from the licence texts of the Debian packages
# whose objects the link maps show in setup.exe and setup64.exe. Run it again
# after a change of toolchain; the release test fails when a program links an
# object that the notices do not name.
set -eu
cd "$(dirname "$0")/.."
mingw=/usr/share/doc/mingw-w64-i686-dev/copyright
gcc=/usr/share/doc/gcc-mingw-w64-i686-posix-runtime/copyright
gpl=/usr/share/common-licenses/GPL-3
for f in $mingw $gcc $gpl; do
  [ -r "$f" ] || { echo "no $f: scripts/install-deps.sh installs it" >&2; exit 1; }
done
version() { dpkg-query -W -f='${Version}' "$1"; }
# The GCC file covers every language's libraries; the part up to the end of
# the runtime library exception is the one about libgcc.
gcc_end=$(grep -n '^presumption that third-party software is unaffected by the copyleft' $gcc | head -n 1 | cut -d: -f1)
[ -n "$gcc_end" ] || { echo "the runtime library exception is not in $gcc" >&2; exit 1; }
gcc_end=$((gcc_end + 1))
{
  cat <<HEAD
VANTIRO RAID Setup: third-party notices

setup.exe and setup64.exe are linked statically with these parts of the
MinGW-w64 tool chain (Debian's packages; the objects as the linker's map
names them). Nothing else from outside VANTIRO RAID Setup is in them: the C++
library (libstdc++.a) and winpthreads (libpthread.a) are searched by the
linker but contribute no object, and libssp is not linked.

1. MinGW-w64 runtime: mingw-w64-i686-dev and mingw-w64-x86-64-dev $(version mingw-w64-i686-dev)
   crt2u.o, libmingw32.a, libmingwex.a, and the import libraries
   libkernel32.a, libadvapi32.a and libmsvcrt.a.
   Licence: section A below ($mingw).

2. GCC runtime library: gcc-mingw-w64-i686-posix and
   gcc-mingw-w64-x86-64-posix $(version gcc-mingw-w64-i686-posix)
   crtbegin.o, crtend.o and libgcc.a (_chkstk_ms.o, _ctors.o).
   Licence: GNU General Public License version 3 with the GCC Runtime
   Library Exception version 3.1: section B below (the beginning of
   $gcc,
   up to the end of the exception) and section C
   ($gpl).

================================================================================
A. MinGW-w64 runtime ($mingw)
================================================================================

HEAD
  cat $mingw
  printf '\n================================================================================\n'
  printf 'B. GCC runtime library (%s, lines 1 to %s)\n' "$gcc" "$gcc_end"
  printf '================================================================================\n\n'
  sed -n "1,${gcc_end}p" $gcc
  printf '\n================================================================================\n'
  printf 'C. GNU General Public License version 3 (%s)\n' "$gpl"
  printf '================================================================================\n\n'
  cat $gpl
} >THIRD-PARTY-NOTICES.txt
echo "written: THIRD-PARTY-NOTICES.txt"
