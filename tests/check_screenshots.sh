#!/bin/sh
# Checks that the pictures of docs/deploy.md and README.md are all there: for
# each box and progress window, in English and in Japanese, a PNG file of a
# window's size (scripts/screenshots.sh takes them).
#   check_screenshots.sh <docs/screenshots folder>
set -u
dir=${1:?usage: check_screenshots.sh DIR}
names="confirm-utility confirm-driver restart completed already-installed no-controller no-files wrong-os failed
  progress-removing progress-installing progress-updating"
# A big-endian 32-bit number at offset $2 of file $1.
number() { od -An -tu1 -j"$2" -N4 "$1" | awk '{ print (($1 * 256 + $2) * 256 + $3) * 256 + $4 }'; }
status=0
for lang in en ja; do
  for name in $names; do
    file="$dir/$lang/$name.png"
    problem=
    if [ ! -f "$file" ]; then
      problem="missing"
    elif [ "$(od -An -tx1 -N8 "$file" | tr -d ' \n')" != 89504e470d0a1a0a ]; then
      problem="not a PNG file"
    else
      # The IHDR chunk comes first: width and height at offsets 16 and 20.
      bytes=$(wc -c <"$file")
      width=$(number "$file" 16)
      height=$(number "$file" 20)
      if [ "$bytes" -lt 300 ] || [ "$bytes" -gt 200000 ]; then
        problem="$bytes bytes"
      elif [ "$width" -lt 100 ] || [ "$width" -gt 800 ] || [ "$height" -lt 50 ] || [ "$height" -gt 400 ]; then
        problem="${width}x$height pixels, not a box's or progress window's size"
      fi
    fi
    if [ -n "$problem" ]; then
      echo "$lang/$name.png: $problem (scripts/screenshots.sh takes the pictures)"
      status=1
    fi
  done
done
[ $status -ne 0 ] || echo "all $(echo $names | wc -w) pictures there in en and ja"
exit $status
