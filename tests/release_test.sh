#!/bin/sh
# The release package as an administrator unpacks it: exactly the two
# programs, the commented Inst.Inf, the deployment guide and its pictures, and
# both programs carrying the product's version.
#   release_test.sh BUILD_FOLDER VERSION
set -u
build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
(cd "$build" && cpack -G ZIP -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
zip="$work/vantiro-raid-setup-$version.zip"
[ -f "$zip" ] || { echo "no $zip"; ls "$work"; exit 1; }
mkdir "$work/unpacked"
unzip -q "$zip" -d "$work/unpacked" || exit 1
files=$(cd "$work/unpacked" && find . -type f ! -path './screenshots/*' | sort | tr '\n' ' ')
expected="./Inst.Inf ./deploy.md ./setup.exe ./setup64.exe "
if [ "$files" != "$expected" ]; then
  echo "files:    $files"
  echo "expected: $expected"
  fail=1
fi
stray=$(cd "$work/unpacked" && find . -type f -path './screenshots/*' ! -name '*.png')
[ -z "$stray" ] || { echo "not a picture: $stray"; fail=1; }
# The version resource's texts, as UTF-16 strings: each key is followed by its value.
value_of() { strings -el "$1" | grep -A1 -x "$2" | sed -n 2p; }
for program in setup setup64; do
  exe="$work/unpacked/$program.exe"
  for key in FileVersion ProductVersion; do
    got=$(value_of "$exe" "$key")
    [ "$got" = "$version" ] || { echo "$program.exe $key: '$got', expected '$version'"; fail=1; }
  done
  got=$(value_of "$exe" OriginalFilename)
  [ "$got" = "$program.exe" ] || { echo "$program.exe OriginalFilename: '$got'"; fail=1; }
done
grep -q '^DeviceID=' "$work/unpacked/Inst.Inf" || { echo "Inst.Inf has no driver entry"; fail=1; }
[ $fail -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $fail
