#!/bin/sh
# Builds the release of the commit that the tree holds into out/ (or $OUT_DIR):
# both programs without any test program, then
# out/vantiro-raid-setup-<version>.zip (setup.exe, setup64.exe, a commented
# Inst.Inf, the deployment guide with its pictures and, in scripts/, the
# scripts it quotes, CHANGELOG.md, THIRD-PARTY-NOTICES.txt and SHA256SUMS) and
# out/SHA256SUMS for the zip. An unsigned release's zip is named
# vantiro-raid-setup-<version>-unsigned.zip.
#
# The tree's tracked files must be those of its commit: a release names a
# commit, and a change that is not in it would ship unseen. The release stops
# and names the changed files, unless RELEASE_ALLOW_CHANGES=1 asks for a
# release of the tree as it is. Untracked files do not count.
#
# Signing, when SIGN_PFX is set (Authenticode, SHA-256, with osslsigncode):
#   SIGN_PFX            the certificate and its key, a PKCS#12 file
#   SIGN_PASSWORD_FILE  a file holding its password (never on a command line)
#   SIGN_URL            the product's page, which the signature names; required,
#                       so that no signed program points to a made-up address
#   SIGN_TIMESTAMP_URL  optional RFC 3161 time-stamp server; a time-stamped
#                       signature differs from one build to the next
# Without SIGN_PFX the release is unsigned, and the last line says so.
#
# Two runs on one commit give the same bytes: every time stamp is the
# commit's time (SOURCE_DATE_EPOCH, when not set already), the zip's entries
# are sorted and carry that time and fixed permissions.
set -eu
cd "$(dirname "$0")/.."
out=${OUT_DIR:-out}

# What would stop the release stops it here, before anything is installed,
# built or deleted: an earlier out/ stays as it was.
if [ -n "${SIGN_PFX:-}" ]; then
  [ -n "${SIGN_URL:-}" ] || {
    echo "SIGN_PFX needs SIGN_URL, the product's page that the signature names (https://...); there is no default" >&2
    exit 1
  }
  [ -r "$SIGN_PFX" ] || { echo "SIGN_PFX: cannot read $SIGN_PFX" >&2; exit 1; }
  [ -r "${SIGN_PASSWORD_FILE:-}" ] ||
    { echo "SIGN_PFX needs SIGN_PASSWORD_FILE, a readable file with the certificate's password" >&2; exit 1; }
fi
if [ "${RELEASE_ALLOW_CHANGES:-}" = 1 ]; then
  echo "RELEASE_ALLOW_CHANGES=1: the release is made of the tree as it is, changes and all" >&2
else
  commit=$(git rev-parse --verify -q HEAD 2>/dev/null) || {
    echo "no commit to compare the tree with: release a git checkout, or set RELEASE_ALLOW_CHANGES=1" >&2
    exit 1
  }
  changed=0
  git diff --quiet HEAD -- || changed=$?
  if [ "$changed" -eq 1 ]; then
    echo "the tree differs from its commit $commit in these tracked files:" >&2
    git diff --name-only HEAD -- | sed 's/^/  /' >&2
    echo "commit them (or undo them), or set RELEASE_ALLOW_CHANGES=1 to release the tree as it is" >&2
    exit 1
  elif [ "$changed" -ne 0 ]; then
    echo "comparing the tree with its commit $commit (git diff) failed" >&2
    exit 1
  fi
fi

scripts/install-deps.sh || { echo "installing the dependencies (scripts/install-deps.sh) failed" >&2; exit 1; }
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
    { echo "no commit to take the release's time from: set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH

rm -rf "$out"
BUILD_DIR=$out/build BUILD_DIR64=$out/build64 BUILD_OPTIONS=-DBUILD_TESTING=OFF scripts/build.sh
version=$(sed -n 's/^#define SETUP_VERSION_TEXT "\(.*\)"$/\1/p' "$out/build/generated/version.h")
# An unsigned zip says so in its name, so that it is not taken for the signed
# release of the same version.
if [ -n "${SIGN_PFX:-}" ]; then
  name=vantiro-raid-setup-$version
else
  name=vantiro-raid-setup-$version-unsigned
fi
stage=$out/stage
mkdir -p "$stage"
cp "$out/build/bin/setup.exe" "$out/build64/bin/setup64.exe" res/release/Inst.Inf docs/deploy.md CHANGELOG.md \
  THIRD-PARTY-NOTICES.txt "$stage/"
cp -R docs/screenshots "$stage/"
cp -R docs/scripts "$stage/scripts"

# sign PROGRAM: signs it in place; the signing time is the commit's, so that
# one certificate gives one signature, unless a time-stamp server is named.
sign() {
  log=$out/sign.log
  file=$1
  set -- -pkcs12 "$SIGN_PFX" -readpass "$SIGN_PASSWORD_FILE" -h sha256 -n "VANTIRO RAID Setup" -i "$SIGN_URL" \
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
