#!/bin/sh
# vk9sim as a user meets it: it never writes over or deletes a path it did not make, and
# every bad option is refused with its reason and exit status 2.
# Usage: check_sim.sh VK9SIM
sim="$1"
dir=$(mktemp -d)
trap 'kill $first 2>/dev/null; rm -rf "$dir"' EXIT
fail() { echo "$*"; exit 1; }

# An existing file is refused and kept.
echo important > "$dir/notes.txt"
err=$("$sim" "$dir/notes.txt" 2>&1 >/dev/null); status=$?
[ $status -eq 2 ] || fail "an existing file: exit $status"
echo "$err" | grep -q "notes.txt exists, and is not a stale link of vk9sim's" || fail "said: $err"
[ "$(cat "$dir/notes.txt")" = important ] || fail "the file was changed"

# A second simulator on a link in use is refused; the first removes only its own link.
"$sim" --log "$dir/log" "$dir/com1" >/dev/null & first=$!
for _ in $(seq 50); do [ -L "$dir/com1" ] && break; sleep 0.1; done
target=$(readlink "$dir/com1")
"$sim" --log "$dir/log" "$dir/com1" >/dev/null 2>&1; status=$?
[ $status -eq 2 ] || fail "a link in use: exit $status"
[ "$(readlink "$dir/com1")" = "$target" ] || fail "the link in use was taken over"
kill $first; wait $first
[ ! -e "$dir/com1" ] && [ ! -L "$dir/com1" ] || fail "the first simulator left its link"

# A stale link (to a pseudo-terminal that is gone) is taken over.
ln -s /dev/pts/999999 "$dir/stale"
"$sim" --log "$dir/log" "$dir/stale" >/dev/null & first=$!
for _ in $(seq 50); do [ "$(readlink "$dir/stale")" != /dev/pts/999999 ] && break; sleep 0.1; done
[ "$(readlink "$dir/stale")" != /dev/pts/999999 ] || fail "a stale link was not taken over"
kill $first; wait $first

# Killed with SIGKILL, a simulator leaves its link; the next one, given the same
# pseudo-terminal by the system, takes it over.
"$sim" --log "$dir/log" "$dir/killed" >/dev/null & first=$!
for _ in $(seq 50); do [ -L "$dir/killed" ] && break; sleep 0.1; done
kill -9 $first; wait $first 2>/dev/null
"$sim" --log "$dir/log" "$dir/killed" >/dev/null & first=$!
sleep 0.5
kill -0 $first 2>/dev/null || fail "a link left by a killed simulator was not taken over"
kill $first; wait $first
[ ! -L "$dir/killed" ] || fail "the link of the second simulator was left"

# Bad options, each with its reason.
check() {
    expected="$1"; shift
    err=$("$sim" "$@" 2>&1 >/dev/null); status=$?
    [ $status -eq 2 ] || fail "$*: exit $status"
    echo "$err" | head -n 1 | grep -qF "vk9sim: $expected" || fail "$*: said $err"
}
check "--projectors 5: 1 to 4" --projectors 5 "$dir/x"
check "--split 0:10: N:GAP" --split 0:10 "$dir/x"
check "--delay -5: milliseconds" --delay -5 "$dir/x"
check "--delay 99999999999: milliseconds" --delay 99999999999 "$dir/x"
check "--drop-after 0: 1 frame or more" --drop-after 0 "$dir/x"
check "unknown option --fast" --fast "$dir/x"
check "no LINK" --no-reply
check "--log $dir/no/such/log: No such file or directory" --log "$dir/no/such/log" "$dir/x"
check "cannot make the link $dir/no/such/link: No such file or directory" "$dir/no/such/link"
[ ! -e "$dir/x" ] || fail "a refused run made its link"
"$sim" --version | grep -q "^vk9sim [0-9]" || fail "--version"
"$sim" -v | grep -q "^vk9sim [0-9]" || fail "-v"
"$sim" --help | grep -q "^  --state N:SETTINGS" || fail "--help says what each option does"
check "--state 5:power=on: N:SETTINGS" --state 5:power=on "$dir/x"
check "--state 1:power=warm: power=standby" --state 1:power=warm "$dir/x"
