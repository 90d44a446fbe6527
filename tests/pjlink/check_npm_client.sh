#!/bin/sh
# The gate's PJLink as a real client meets it: the pjlink package from the npm registry,
# installed here into the build, drives two projectors of a gate in front of vk9sim, one with
# a password and one without, installed from its lockfile (tests/pjlink/package-lock.json).
# A client that cannot be had fails the test: it is never skipped.
# Usage: check_npm_client.sh SOURCE_DIR MODULES_DIR VK9SIM VK9GATE
source="$1"
modules="$2"
sim="$3"
gate="$4"
dir=$(mktemp -d)
trap 'kill $simpid $gatepid 2>/dev/null; rm -rf "$dir"' EXIT
fail() { echo "$*"; exit 1; }

if [ ! -d "$modules/node_modules/pjlink" ]; then
    command -v npm >/dev/null || fail "npm is not installed"
    mkdir -p "$modules"
    cp "$source/tests/pjlink/package.json" "$source/tests/pjlink/package-lock.json" "$modules/"
    if ! (cd "$modules" && npm ci --ignore-scripts --no-audit --no-fund) >"$dir/npm.log" 2>&1; then
        cat "$dir/npm.log"
        fail "the PJLink client could not be installed from the npm registry"
    fi
fi

"$sim" --log "$dir/sim.log" --warm-up 300 --cool-down 300 "$dir/line" >/dev/null & simpid=$!
for _ in $(seq 50); do [ -e "$dir/line" ] && break; sleep 0.1; done
# Three ports in a row that nothing listens on.
while :; do
    base=$((20000 + $(od -An -N2 -tu2 /dev/urandom) % 12000)) # below the ephemeral ports
    ss -ltnH "( sport = :$base or sport = :$((base + 1)) or sport = :$((base + 2)) )" |
        grep -q . || break
done
printf 'hall\n' > "$dir/secret"
chmod 600 "$dir/secret"
cat > "$dir/gate.toml" <<TOML
[line]
port = "$dir/line"
listen = "127.0.0.1:$base"

[[projector]]
address = "001"
name = "Hall left"
[projector.pjlink]
listen = "127.0.0.1:$((base + 1))"
password_file = "$dir/secret"

[[projector]]
address = "002"
name = "Hall right"
[projector.pjlink]
listen = "127.0.0.1:$((base + 2))"
TOML
"$gate" --config "$dir/gate.toml" 2>"$dir/gate.log" & gatepid=$!
sleep 0.5

client() { node "$source/tests/pjlink/client.js" "$modules" "$@"; }
got=$(client $((base + 1)) hall getPower powerOn getPower wait1200 getPower setInput31 getInput \
      setInput21 muteVideo getMute getErrors getLamps getName getClass getInputs powerOff \
      powerOff unmute)
expected='{"getPower":0}
{"powerOn":"ok"}
{"getPower":3}
{"getPower":1}
{"setInput31":"ok"}
{"getInput":"31"}
{"setInput21":"error: Out of parameter"}
{"muteVideo":"ok"}
{"getMute":{"audio":false,"video":true}}
{"getErrors":null}
{"getLamps":[{"hours":1200,"on":true},{"hours":1200,"on":true},{"hours":1200,"on":true},{"hours":1200,"on":true}]}
{"getName":"Hall left"}
{"getClass":"1"}
{"getInputs":["11","12","31","32"]}
{"powerOff":"ok"}
{"powerOff":"error: Unavailable time"}
{"unmute":"error: Unavailable time"}'
[ "$got" = "$expected" ] || fail "with the password, got:
$got
gate log:
$(cat "$dir/gate.log")"

got=$(client $((base + 1)) wrong getPower)
[ "$got" = '{"getPower":"error: Authorization failed"}' ] || fail "a wrong password: $got"
got=$(client $((base + 2)) - getPower getInput)
[ "$got" = '{"getPower":0}
{"getInput":"error: Unavailable time"}' ] || fail "without a password: $got"
grep -q "a wrong PJLink password from 127.0.0.1" "$dir/gate.log" ||
    fail "the wrong password was not logged"
