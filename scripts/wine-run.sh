#!/bin/sh
# Runs a Windows program under Wine with its output in a file: Wine's background
# processes would otherwise keep the caller's pipes open.
out=$(mktemp)
wine "$@" >"$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
exit $rc
