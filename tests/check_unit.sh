#!/bin/sh
# The gate's systemd unit as an administrator meets it: installed as the package installs
# it, systemd-analyze verify accepts it, its exposure rates 2.0 or better, and its ExecStart,
# run by hand (with the configuration's folder and the binary where this build has them),
# serves the simulator's line.
# Usage: check_unit.sh BUILD_DIR VK9SIM VK9CTL
build="$1"
sim="$2"
ctl="$3"
dir=$(mktemp -d)
trap 'kill $simpid $gatepid 2>/dev/null; rm -rf "$dir"' EXIT
fail() { echo "$*"; exit 1; }

DESTDIR="$dir/root" cmake --install "$build" --prefix /usr >/dev/null || fail "install failed"
gate="$dir/root/usr/bin/vk9gate"
unit="$dir/vk9gate@hall.service"
sed "s#/usr/bin/vk9gate#$gate#" "$dir/root/lib/systemd/system/vk9gate@.service" > "$unit"

said=$(MANPATH="$dir/root/usr/share/man" systemd-analyze verify "$unit" 2>&1) ||
    fail "systemd-analyze verify: $said"
[ -z "$said" ] || fail "systemd-analyze verify said: $said"
level=$(systemd-analyze security --offline=true "$unit" 2>&1 |
    sed -n 's/.*Overall exposure level for vk9gate@hall.service: \([0-9.]*\).*/\1/p')
[ -n "$level" ] || fail "no exposure level"
awk "BEGIN { exit !($level <= 2.0) }" || fail "exposure level $level, more than 2.0"
echo "exposure level $level"

"$sim" --log "$dir/sim.log" "$dir/line" >/dev/null & simpid=$!
for _ in $(seq 50); do [ -e "$dir/line" ] && break; sleep 0.1; done
while :; do # a port that nothing listens on
    port=$((20000 + $(od -An -N2 -tu2 /dev/urandom) % 12000)) # below the ephemeral ports
    ss -ltnH "sport = :$port" | grep -q . || break
done
printf '[line]\nport = "%s"\nlisten = "127.0.0.1:%s"\n' "$dir/line" "$port" > "$dir/hall.toml"
command=$(sed -n 's/^ExecStart=//p' "$unit" | sed "s#/etc/vk9gate/%i.toml#$dir/hall.toml#")
$command 2>"$dir/gate.log" & gatepid=$!
out=""
for _ in $(seq 50); do
    out=$("$ctl" --port "tcp://127.0.0.1:$port" query-status 2>/dev/null) && break
    sleep 0.1
done
[ "$out" = " Stand by" ] || fail "through the unit's command: '$out'; $(cat "$dir/gate.log")"
kill -TERM $gatepid
wait $gatepid; status=$?
[ $status -eq 0 ] || fail "ended on SIGTERM with exit status $status"
