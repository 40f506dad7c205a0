#!/bin/sh
# setup.exe must run without MinGW's runtime DLLs, import nothing but the
# Windows DLLs that the loader takes from the system folder (known DLLs), be a
# GUI program, and have ASLR and DEP on. It must not import CryptAcquireContext:
# a call to it before RestrictDllSearch would load cryptsp.dll, which is no known
# DLL, by the default search that starts in the program's folder.
set -u
objdump=$1
exe=$2
headers=$("$objdump" -p "$exe") || { echo "cannot read $exe"; exit 1; }
fail=0
imports=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
allowed="advapi32.dll kernel32.dll msvcrt.dll "
if [ "$imports" != "$allowed" ]; then
  echo "imports: $imports"
  echo "allowed: $allowed"
  fail=1
fi
crypt=$(printf '%s\n' "$headers" | grep -oE 'CryptAcquireContext[AW]?' | sort -u | tr '\n' ' ')
if [ -n "$crypt" ]; then
  echo "imports $crypt"
  fail=1
fi
printf '%s\n' "$headers" | grep -q 'Subsystem[[:space:]]*00000002' || { echo "not a GUI program"; fail=1; }
printf '%s\n' "$headers" | grep -q 'DYNAMIC_BASE' || { echo "ASLR off"; fail=1; }
printf '%s\n' "$headers" | grep -q 'NX_COMPAT' || { echo "DEP off"; fail=1; }
[ $fail -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $fail
