#!/bin/sh
# Builds the release from a clean tree into out/ (or $OUT_DIR): both programs
# without any test program, then out/vantiro-raid-setup-<version>.zip
# (setup.exe, setup64.exe, a commented Inst.Inf, the deployment guide and its
# pictures, CHANGELOG.md, THIRD-PARTY-NOTICES.txt and SHA256SUMS) and
# out/SHA256SUMS for the zip.
#
# Signing, when SIGN_PFX is set (Authenticode, SHA-256, with osslsigncode):
#   SIGN_PFX            the certificate and its key, a PKCS#12 file
#   SIGN_PASSWORD_FILE  a file holding its password (never on a command line)
#   SIGN_URL            the address in the signature (default below)
#   SIGN_TIMESTAMP_URL  optional RFC 3161 time-stamp server; a time-stamped
#                       signature differs from one build to the next
# Without SIGN_PFX the release is unsigned, and the last line says so.
#
# Two runs on one commit give the same bytes: every time stamp is the
# commit's time (SOURCE_DATE_EPOCH, when not set already), the zip's entries
# are sorted and carry that time and fixed permissions.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh || { echo "installing the dependencies (scripts/install-deps.sh) failed" >&2; exit 1; }
out=${OUT_DIR:-out}
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
    { echo "no commit to take the release's time from: set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH
sign_url=${SIGN_URL:-https://www.vantiro.example/raid}
if [ -n "${SIGN_PFX:-}" ]; then
  [ -r "$SIGN_PFX" ] || { echo "SIGN_PFX: cannot read $SIGN_PFX" >&2; exit 1; }
  [ -r "${SIGN_PASSWORD_FILE:-}" ] ||
    { echo "SIGN_PFX needs SIGN_PASSWORD_FILE, a readable file with the certificate's password" >&2; exit 1; }
fi

rm -rf "$out"
BUILD_DIR=$out/build BUILD_DIR64=$out/build64 BUILD_OPTIONS=-DBUILD_TESTING=OFF scripts/build.sh
version=$(sed -n 's/^#define SETUP_VERSION_TEXT "\(.*\)"$/\1/p' "$out/build/generated/version.h")
name=vantiro-raid-setup-$version
stage=$out/stage
mkdir -p "$stage"
cp "$out/build/bin/setup.exe" "$out/build64/bin/setup64.exe" res/release/Inst.Inf docs/deploy.md CHANGELOG.md \
  THIRD-PARTY-NOTICES.txt "$stage/"
cp -R docs/screenshots "$stage/"

# sign PROGRAM: signs it in place; the signing time is the commit's, so that
# one certificate gives one signature, unless a time-stamp server is named.
sign() {
  log=$out/sign.log
  file=$1
  set -- -pkcs12 "$SIGN_PFX" -readpass "$SIGN_PASSWORD_FILE" -h sha256 -n "VANTIRO RAID Setup" -i "$sign_url" \
    -in "$file" -out "$file.signed"
  if [ -n "${SIGN_TIMESTAMP_URL:-}" ]; then
    set -- "$@" -ts "$SIGN_TIMESTAMP_URL"
  else
    set -- "$@" -time "$SOURCE_DATE_EPOCH"
  fi
  program=$(basename "$file")
  osslsigncode sign "$@" >>"$log" 2>&1 || {
    echo "signing $program (osslsigncode sign) failed: see $log" >&2
    tail -n 20 "$log" >&2
    exit 1
  }
  mv "$file.signed" "$file"
}
if [ -n "${SIGN_PFX:-}" ]; then
  sign "$stage/setup.exe"
  sign "$stage/setup64.exe"
fi

(cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | xargs -d '\n' sha256sum >../SHA256SUMS.inner) &&
  mv "$out/SHA256SUMS.inner" "$stage/SHA256SUMS"
find "$stage" -type d -exec chmod 755 {} + && find "$stage" -type f -exec chmod 644 {} +
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
# zip keeps local time: UTC makes it the same everywhere. -X leaves out the
# owner and the extra time fields, -D the folder entries.
(cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort |
  TZ=UTC zip -X -D -q "../$name.zip" -@) || { echo "making $out/$name.zip (zip) failed" >&2; exit 1; }
(cd "$out" && sha256sum "$name.zip" >SHA256SUMS)
rm -rf "$stage"
if [ -n "${SIGN_PFX:-}" ]; then
  echo "signed release: $out/$name.zip (setup.exe and setup64.exe signed), checksum in $out/SHA256SUMS"
else
  echo "unsigned release: $out/$name.zip; setup.exe and setup64.exe are NOT signed (no SIGN_PFX given)"
fi
