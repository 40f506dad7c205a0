#!/bin/sh
# Every line the program can write to its debug log is in the guide's table
# of log lines: each LogMessage format (and each text a child process's
# caller hands it) against the texts in backquotes of the rows of the guide's
# section "The debug log". Placeholders count as one: %s, %d ... in the
# program, <...> and "..." in the guide.
#   check_log_table.sh SOURCE_FOLDER GUIDE
set -u
src=$1
guide=$2
skeleton() {
  perl -pe 's/%[-+ #0]*[0-9]*(?:\.[0-9]+)?(?:l|ll|h)?[sdiuxXc]/\x01/g; s/<[^>]*>/\x01/g; s/\.\.\./\x01/g;
            s/\x01(?:[.,]?\x01)+/\x01/g; s/\x01/*/g; s/\\n$//; s/\\\\/\\/g; s/[ \t]+$//'
}
formats=$(find "$src" -name '*.cpp' -exec cat {} + | perl -0777 -ne '
  while (/LogMessage\(\s*((?:L"(?:[^"\\]|\\.)*"\s*)+)/g) { print join("", $1 =~ /L"((?:[^"\\]|\\.)*)"/g), "\n" }
  while (/ChildLogTexts\s+\w+\s*=\s*\{\s*((?:L"(?:[^"\\]|\\.)*"\s*,\s*)+)/g) { print "$_\n" for ($1 =~ /L"((?:[^"\\]|\\.)*)"/g) }' |
  skeleton | grep -v '^\*$' | LC_ALL=C sort -u)
documented=$(awk '/^## The debug log/ { on = 1; next } /^## / { on = 0 } on && /^\| `/' "$guide" |
  perl -ne 'print "$1\n" while /`([^`]+)`/g' | skeleton | LC_ALL=C sort -u)
listed=$(mktemp)
printf '%s\n' "$documented" >"$listed"
missing=$(printf '%s\n' "$formats" | LC_ALL=C comm -23 - "$listed")
rm -f "$listed"
if [ -n "$missing" ]; then
  echo "log lines the guide's table does not list:"
  printf '  %s\n' "$missing"
  exit 1
fi
echo "every one of $(printf '%s\n' "$formats" | wc -l) log lines is in the guide"
