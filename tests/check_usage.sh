#!/bin/sh
# A program's command line as a user meets it: --help prints the usage on standard output
# and exits 0; an unknown option prints it on standard error and exits 2.
# Usage: check_usage.sh PROGRAM USAGE-START
program="$1"
start="$2"
out=$("$program" --help 2>/dev/null) || { echo "--help exited $?"; exit 1; }
echo "$out" | grep -q "^$start" || { echo "--help printed: $out"; exit 1; }
err=$("$program" --no-such-option 2>&1 >/dev/null)
status=$?
[ "$status" -eq 2 ] || { echo "an unknown option exited $status"; exit 1; }
echo "$err" | grep -q "$start" || { echo "an unknown option printed: $err"; exit 1; }
