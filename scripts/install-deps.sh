#!/bin/sh
# Installs what the build and the Windows test bed need, from Debian's packages.
set -eu
packages="cmake make time unzip binutils g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine32:i386 wine64 xvfb xauth wixl msitools osslsigncode zip openssl googletest locales cppcheck clang-format imagemagick xdotool fonts-ipafont-gothic fonts-wine"
# osslsigncode signs the release (scripts/release.sh), zip packs it; the release
# test makes a throwaway certificate with openssl.
# imagemagick, xdotool and the fonts are for the pictures of scripts/screenshots.sh:
# fonts-wine gives Wine's Tahoma and Marlett, fonts-ipafont-gothic the Japanese
# text, which shows as squares without it. Wine 8 finds fonts through fontconfig
# each time a program starts, not only when it makes a prefix: a prefix made
# while the Japanese font was hidden from fontconfig gives the same pictures,
# pixel for pixel, once the font is there. It must be installed before the
# Japanese runs, which this script, run first, makes sure of.
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO dpkg --add-architecture i386
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing
fi
# The Japanese user interface of the tests is Wine's ja_JP.UTF-8 locale.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO sh -c 'grep -q "^ja_JP.UTF-8" /etc/locale.gen 2>/dev/null || echo "ja_JP.UTF-8 UTF-8" >> /etc/locale.gen; locale-gen >/dev/null'
fi
