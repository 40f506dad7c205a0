#!/bin/sh
# The release as scripts/release.sh makes it and an administrator unpacks it:
# the file list and names, the guide's scripts as they are in docs/scripts,
# both programs' versions, manifest and signature, the checksums, the notices
# against what the linker put in, and two releases of one commit in different
# folders byte for byte the same, signed with one certificate and unsigned.
# And what stops a release before it builds: signing without SIGN_URL, and a
# tree whose tracked files differ from its commit.
#   release_test.sh BUILD_FOLDER VERSION SOURCE_FOLDER
set -u
build=$(cd "$1" && pwd)
version=$2
source=$(cd "$3" && pwd)
work=$build/release_test
rm -rf "$work"
mkdir -p "$work/cert"
trap 'rm -rf "$work"' EXIT
fail=0
bad() {
  echo "FAILED: $*"
  fail=1
}
name=vantiro-raid-setup-$version
url=https://www.vantiro.example/raid-test

# A developer may run this on a tree with changes: its releases then ask for
# them by name, as scripts/release.sh requires. A clean tree (CI's) is
# released as it is, with RELEASE_ALLOW_CHANGES cleared.
status=0
git -C "$source" diff --quiet HEAD -- 2>"$work/git.log" || status=$?
case $status in
  0) allow= ;;
  1) allow=1 ;;
  *) echo "cannot tell whether $source has changes (git diff):"; cat "$work/git.log"; exit 1 ;;
esac

# A throwaway certificate; its random password goes through files only.
cert=$work/cert
od -An -tx1 -N16 /dev/urandom | tr -d ' \n' >"$cert/password"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$cert/key.pem" -out "$cert/cert.pem" -days 2 \
  -subj "/CN=VANTIRO RAID release test" >"$cert/openssl.log" 2>&1 &&
  openssl pkcs12 -export -inkey "$cert/key.pem" -in "$cert/cert.pem" -out "$cert/cert.pfx" \
    -passout "file:$cert/password" >>"$cert/openssl.log" 2>&1 || { cat "$cert/openssl.log"; exit 1; }

# refused FOLDER WHY VARIABLE=VALUE...: scripts/release.sh into FOLDER, which
# holds a file of an earlier release, with these variables, must end with 1
# and say WHY before it builds or deletes anything.
refused() {
  folder=$1 why=$2
  shift 2
  mkdir -p "$folder" && echo earlier >"$folder/earlier"
  code=0
  env OUT_DIR="$folder" "$@" sh "$source/scripts/release.sh" >"$folder.log" 2>&1 || code=$?
  [ "$code" -eq 1 ] || bad "$(basename "$folder"): exit code $code, expected 1"
  grep -qF -- "$why" "$folder.log" || bad "$(basename "$folder"): does not say '$why': $(cat "$folder.log")"
  [ "$(ls -A "$folder")" = earlier ] || bad "$(basename "$folder"): the earlier release's folder changed: $(ls -A "$folder")"
}
refused "$work/refused-no-url" "SIGN_PFX needs SIGN_URL" \
  SIGN_PFX="$cert/cert.pfx" SIGN_PASSWORD_FILE="$cert/password" SIGN_URL= RELEASE_ALLOW_CHANGES=$allow
if [ -n "$allow" ]; then
  refused "$work/refused-changes" "the tree differs from its commit" SIGN_PFX= RELEASE_ALLOW_CHANGES=
  git -C "$source" diff --name-only HEAD -- >"$work/changed-files"
  while IFS= read -r file; do
    grep -qxF "  $file" "$work/refused-changes.log" || bad "refused-changes: the changed file $file is not named"
  done <"$work/changed-files"
else
  echo "skipped: a release of a tree with changes must stop; $source has none"
fi

# release FOLDER [signed]: scripts/release.sh into FOLDER; its output in FOLDER.log.
release() {
  mkdir -p "$(dirname "$1")"
  if [ "${2:-}" = signed ]; then
    OUT_DIR=$1 SIGN_PFX=$cert/cert.pfx SIGN_PASSWORD_FILE=$cert/password SIGN_URL=$url RELEASE_ALLOW_CHANGES=$allow \
      sh "$source/scripts/release.sh" >"$1.log" 2>&1
  else
    OUT_DIR=$1 SIGN_PFX='' RELEASE_ALLOW_CHANGES=$allow sh "$source/scripts/release.sh" >"$1.log" 2>&1
  fi || { echo "scripts/release.sh into $1 failed:"; tail -n 30 "$1.log"; exit 1; }
}
# Different folders and depths: no build path may reach the bytes.
release "$work/signed-a" signed
release "$work/another/signed-b" signed
release "$work/unsigned-a"
release "$work/another/place/unsigned-b"

# zip_of KIND: the zip's name; an unsigned one says so.
zip_of() {
  if [ "$1" = signed ]; then echo "$name.zip"; else echo "$name-unsigned.zip"; fi
}
last=$(tail -n 1 "$work/signed-a.log")
case $last in
  "signed release: $work/signed-a/$(zip_of signed) "*) ;;
  *) bad "signed release's last line: $last" ;;
esac
last=$(tail -n 1 "$work/unsigned-a.log")
case $last in
  "unsigned release: $work/unsigned-a/$(zip_of unsigned); "*"NOT signed"*) ;;
  *) bad "unsigned release's last line: $last" ;;
esac
for kind in signed unsigned; do
  zip=$(zip_of $kind)
  zips=$(cd "$work/$kind-a" && find . -maxdepth 1 -name '*.zip' | sed 's|^\./||' | tr '\n' ' ')
  [ "$zips" = "$zip " ] || bad "$kind release: zips $zips; expected $zip"
  grep -qx "[0-9a-f]\{64\}  $zip" "$work/$kind-a/SHA256SUMS" ||
    bad "$kind release: out/SHA256SUMS: $(cat "$work/$kind-a/SHA256SUMS")"
  (cd "$work/$kind-a" && sha256sum -c --quiet SHA256SUMS) || bad "$kind release: out/SHA256SUMS does not check"
done

for pair in "signed-a another/signed-b $(zip_of signed)" "unsigned-a another/place/unsigned-b $(zip_of unsigned)"; do
  set -- $pair
  for f in "$3" SHA256SUMS build/bin/setup.exe build64/bin/setup64.exe; do
    cmp -s "$work/$1/$f" "$work/$2/$f" || bad "not reproducible: $1/$f and $2/$f differ"
  done
done
for f in build/bin/setup.exe build64/bin/setup64.exe; do
  for folder in "$source" "$work"; do
    ! strings -a "$work/signed-a/$f" | grep -qF "$folder" || bad "$f names the folder $folder"
  done
done

# The scripts that the guide quotes, shipped as they are in docs/scripts.
scripts="scripts/Detect-VantiroRaid.ps1 scripts/Get-VantiroRaidRecord.ps1 scripts/Install-VantiroRaid.ps1
  scripts/Test-VantiroRaidRequirement.ps1 scripts/vantiro-raid.yml"
for kind in signed unsigned; do
  unpacked=$work/$kind
  mkdir "$unpacked"
  (cd "$unpacked" && unzip -q "$work/$kind-a/$(zip_of $kind)") || { bad "unzip $kind"; continue; }
  files=$(cd "$unpacked" && find . -type f ! -path './screenshots/*' | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')
  expected=$(echo CHANGELOG.md Inst.Inf SHA256SUMS THIRD-PARTY-NOTICES.txt deploy.md $scripts setup.exe setup64.exe |
    tr ' ' '\n' | LC_ALL=C sort | tr '\n' ' ')
  [ "$files" = "$expected" ] || bad "$kind zip: files: $files; expected: $expected"
  for script in $(cd "$source/docs" && find scripts -type f); do
    cmp -s "$source/docs/$script" "$unpacked/$script" || bad "$kind zip: $script is not docs/$script"
  done
  pictures=$(cd "$source/docs" && find screenshots -type f | LC_ALL=C sort)
  shipped=$(cd "$unpacked" && find screenshots -type f | LC_ALL=C sort)
  [ -n "$shipped" ] && [ "$shipped" = "$pictures" ] || bad "$kind zip: the pictures are not those of docs/screenshots"
  (cd "$unpacked" && sha256sum -c --quiet SHA256SUMS) || bad "$kind zip: SHA256SUMS does not check"
  listed=$(wc -l <"$unpacked/SHA256SUMS")
  all=$(cd "$unpacked" && find . -type f ! -name SHA256SUMS | wc -l)
  [ "$listed" -eq "$all" ] || bad "$kind zip: SHA256SUMS lists $listed files of $all"
done

# fixed_version PROGRAM FIELD: FileVersion (0) or ProductVersion (1) of the
# VS_FIXEDFILEINFO, found by its signature 0xFEEF04BD and structure version 1.0
# (the signature alone is also in the code that reads drivers' versions).
fixed_version() {
  at=$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe\x00\x00\x01\x00' "$1" | head -n 1 | cut -d: -f1)
  [ -n "$at" ] || return
  od -An -tu2 -j $((at + 8 + $2 * 8)) -N8 "$1" | awk '{ print $2 "." $1 "." $4 "." $3 }'
}
# The version resource's texts, as UTF-16 strings: each key is followed by its value.
value_of() { strings -el "$1" | grep -A1 -x "$2" | sed -n 2p; }
has() { LC_ALL=C grep -qaF "$2" "$1"; }
unpacked=$work/signed
for program in setup setup64; do
  exe=$unpacked/$program.exe
  for field in 0 1; do
    got=$(fixed_version "$exe" $field)
    [ "$got" = "$version" ] || bad "$program.exe fixed version $field: '$got', expected '$version'"
  done
  for key in FileVersion ProductVersion; do
    got=$(value_of "$exe" "$key")
    [ "$got" = "$version" ] || bad "$program.exe $key: '$got', expected '$version'"
  done
  got=$(value_of "$exe" OriginalFilename)
  [ "$got" = "$program.exe" ] || bad "$program.exe OriginalFilename: '$got'"
  for key in CompanyName LegalCopyright ProductName; do
    [ -n "$(value_of "$exe" "$key")" ] || bad "$program.exe has no $key"
  done
  has "$exe" "name=\"VANTIRO.RAID.Setup\" version=\"$version\"" || bad "$program.exe: manifest without version $version"
  has "$exe" 'level="requireAdministrator"' || bad "$program.exe: manifest without requireAdministrator"
  for os in e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a \
    4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
    has "$exe" "<supportedOS Id=\"{$os}\"/>" || bad "$program.exe: manifest without supportedOS $os"
  done
  has "$exe" '<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true</dpiAware>' ||
    bad "$program.exe: manifest not DPI-aware"

  log=$work/verify-$program.txt
  osslsigncode verify -CAfile "$cert/cert.pem" -in "$exe" >"$log" 2>&1 || { bad "$program.exe: signature"; cat "$log"; }
  grep -q 'Text description: VANTIRO RAID Setup' "$log" || bad "$program.exe: signature without the product's name"
  got=$(sed -n 's/^[[:space:]]*URL description: //p' "$log")
  [ "$got" = "$url" ] || bad "$program.exe: the signature's address is '$got', expected $url"
  grep -q 'Message digest algorithm *: SHA256' "$log" || bad "$program.exe: signature not SHA-256"
  # One byte changed in the code: the signature no longer holds.
  cp "$exe" "$work/changed.exe"
  at=5000
  byte=$(od -An -tu1 -j $at -N1 "$work/changed.exe" | tr -d ' ')
  printf "\\$(printf '%03o' $(((byte + 1) % 256)))" | dd of="$work/changed.exe" bs=1 seek=$at conv=notrunc 2>/dev/null
  ! osslsigncode verify -CAfile "$cert/cert.pem" -in "$work/changed.exe" >"$log.changed" 2>&1 ||
    bad "$program.exe: verified after a byte was changed"
  ! osslsigncode verify -CAfile "$cert/cert.pem" -in "$work/unsigned/$program.exe" >"$log.unsigned" 2>&1 ||
    bad "$program.exe of the unsigned release carries a signature"
done

top=$(grep -m 1 '^## ' "$unpacked/CHANGELOG.md")
[ "$top" = "## $version" ] || bad "CHANGELOG.md's top entry: '$top', expected '## $version'"

# Every object the linker took from the tool chain is named among the
# components of the notices (their indented lines, above the licence texts).
components=$(sed -n '/^=====/q;/^   /p' "$unpacked/THIRD-PARTY-NOTICES.txt")
for map in "$work/signed-a/build/setup.map" "$work/signed-a/build64/setup64.map"; do
  [ -s "$map" ] || { bad "no link map $map"; continue; }
  linked=$({
    awk '/^Archive member included/ { on = 1; next } /^(Discarded|Allocating common|Memory Configuration)/ { on = 0 }
      on && /^\/usr\// { sub(/\(.*/, ""); print }' "$map"
    awk '$1 == "LOAD" && $2 ~ /^\/usr\/.*\.o$/ { print $2 }' "$map"
  } | sed 's|.*/||' | sort -u)
  [ -n "$linked" ] || bad "$map names no tool-chain object"
  for object in $linked; do
    echo "$components" | grep -qF "$object" || bad "$object is in $(basename "$map" .map).exe, not in THIRD-PARTY-NOTICES.txt"
  done
done

[ $fail -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $fail
