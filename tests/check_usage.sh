#!/bin/sh
# A program's command line as a user meets it: --help prints the usage on standard output
# and exits 0; an unknown option exits 2 with the usage, or a pointer to it, on standard
# error and nothing on standard output.
# Usage: check_usage.sh PROGRAM USAGE-START [ERROR-TEXT]
program="$1"
start="$2"
pointer="${3:-$2}"
out=$("$program" --help 2>/dev/null) || { echo "--help exited $?"; exit 1; }
echo "$out" | grep -q "^$start" || { echo "--help printed: $out"; exit 1; }
out=$("$program" --no-such-option 2>/dev/null)
status=$?
[ "$status" -eq 2 ] || { echo "an unknown option exited $status"; exit 1; }
[ -z "$out" ] || { echo "an unknown option printed on standard output: $out"; exit 1; }
err=$("$program" --no-such-option 2>&1 >/dev/null)
echo "$err" | grep -qF "$pointer" || { echo "an unknown option printed: $err"; exit 1; }
