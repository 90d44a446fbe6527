#!/bin/sh
# The gate's /metrics as Prometheus meets it: Debian's promtool lints a scrape, a real
# Prometheus (its own data folder, scraping the gate on loopback every second) reports it
# up with its line and a projector's lamp hours, and the example alerts pass promtool's
# own checks and tests. Never skipped.
# Usage: check_metrics.sh SOURCE_DIR VK9SIM VK9GATE VK9CTL
source=$(cd "$1" && pwd)
sim="$2"
gate="$3"
ctl="$4"
dir=$(mktemp -d)
trap 'kill $simpid $gatepid $prompid 2>/dev/null; wait 2>/dev/null; rm -rf "$dir"' EXIT
fail() { echo "$*"; exit 1; }
for tool in promtool prometheus curl; do
    command -v $tool >/dev/null || fail "$tool is not installed"
done
free() { # a port nothing listens on
    while :; do
        p=$((20000 + $(od -An -N2 -tu2 /dev/urandom) % 12000))
        ss -ltnH "( sport = :$p )" | grep -q . || { echo $p; return; }
    done
}
share=$(free); metrics=$(free); prom=$(free); web=$(free)

"$sim" --projectors 2 --log "$dir/sim.log" "$dir/line" >/dev/null & simpid=$!
for _ in $(seq 50); do [ -e "$dir/line" ] && break; sleep 0.1; done
cat > "$dir/gate.toml" <<TOML
[line]
port = "$dir/line"
listen = "127.0.0.1:$share"
[[projector]]
address = "001"
name = "Hall left"
[[projector]]
address = "002"
name = "Hall right"
[metrics]
listen = "127.0.0.1:$metrics"
[web]
listen = "127.0.0.1:$web"
TOML
"$gate" --config "$dir/gate.toml" 2>"$dir/gate.log" & gatepid=$!
for _ in $(seq 50); do curl -sf "http://127.0.0.1:$metrics/metrics" >/dev/null && break; sleep 0.1; done
"$ctl" --port "gate://127.0.0.1:$share" --address 1 query-l-time >/dev/null ||
    fail "vk9ctl through the gate failed: $(cat "$dir/gate.log")"

curl -sf "http://127.0.0.1:$metrics/metrics" > "$dir/scrape" || fail "no scrape"
# The lamp hours just read carry their time; the input, never read, has none.
read_at=$(sed -n 's/^vk9gate_projector_reading_timestamp_seconds{address="001",name="Hall left",query="lamp"} //p' "$dir/scrape")
[ -n "$read_at" ] && [ $(( $(date +%s) - ${read_at%.*} )) -le 10 ] ||
    fail "projector 001's lamp reading has no time of now: '$read_at'"
! grep -q 'reading_timestamp_seconds{address="001",name="Hall left",query="input"}' "$dir/scrape" ||
    fail "an input never read has a reading time"
for method in POST PUT DELETE; do # reading only
    code=$(curl -s -o /dev/null -w '%{http_code}' -X $method "http://127.0.0.1:$metrics/metrics")
    [ "$code" = 405 ] || fail "$method /metrics answered $code, not 405"
done
# HEAD, then GET on the same connection: the HEAD answer is headers alone, and the next answer
# starts right after it. A page's HEAD has its GET's length; a scrape may change between the two
# (a counter, a reading's time), so there only a length is required.
for url in "$metrics/metrics" "$web/metrics" "$web/"; do
    port=${url%%/*} path=/${url#*/}
    both=$(bash -c "exec 3<>/dev/tcp/127.0.0.1/$port
        printf 'HEAD $path HTTP/1.1\r\nHost: x\r\n\r\nGET $path HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n' >&3
        timeout 2 cat <&3" | tr -d '\r')
    next=$(printf '%s\n' "$both" | awk '/^$/ { getline; print; exit }')
    [ "$next" = "HTTP/1.1 200 OK" ] || fail "HEAD $path on $port: after its headers came '$next'"
    [ "$(printf '%s\n' "$both" | grep -ci '^content-length:')" = 2 ] ||
        fail "HEAD $path on $port: not both answers have a length"
    lengths=$(printf '%s\n' "$both" | grep -i '^content-length:' | sort -u | wc -l)
    [ "$lengths" = 1 ] || [ "$path" = /metrics ] || fail "HEAD $path on $port: another length than GET's: $(printf '%s\n' "$both" | grep -i '^content-length:')"
done
lint=$(promtool check metrics < "$dir/scrape" 2>&1) || fail "promtool check metrics: $lint"
[ -z "$lint" ] || fail "promtool check metrics: $lint"
grep -qx 'vk9gate_projector_lamp_seconds{address="001",name="Hall left"} 4320000' "$dir/scrape" ||
    fail "1200 lamp hours not in the scrape:
$(grep lamp "$dir/scrape")"

cat > "$dir/prometheus.yml" <<YML
global:
  scrape_interval: 1s
scrape_configs:
  - job_name: vk9gate
    static_configs:
      - targets: ["127.0.0.1:$metrics"]
YML
prometheus --config.file="$dir/prometheus.yml" --storage.tsdb.path="$dir/data" \
    --web.listen-address="127.0.0.1:$prom" >"$dir/prometheus.log" 2>&1 & prompid=$!
query() { # the value of an instant query's first result
    curl -sf "http://127.0.0.1:$prom/api/v1/query" --data-urlencode "query=$1" |
        sed -n 's/.*"value":\[[0-9.]*,"\([^"]*\)"\].*/\1/p'
}
for _ in $(seq 300); do
    [ "$(query 'up{job="vk9gate"}')" = 1 ] && break
    sleep 0.1
done
[ "$(query 'up{job="vk9gate"}')" = 1 ] || fail "Prometheus did not find the gate up:
$(tail -5 "$dir/prometheus.log")"
[ "$(query vk9gate_line_up)" = 1 ] || fail "vk9gate_line_up is not 1 in Prometheus"
[ "$(query 'vk9gate_projector_lamp_seconds{address="001"} / 3600')" = 1200 ] ||
    fail "projector 001's lamp hours are not 1200 in Prometheus"

rules="$source/packaging/examples/vk9gate-alerts.yml"
promtool check rules "$rules" >"$dir/rules.log" 2>&1 || fail "$(cat "$dir/rules.log")"
sed "s|RULES|$rules|" "$source/tests/metrics/alerts.test.yml" > "$dir/alerts.test.yml"
promtool test rules "$dir/alerts.test.yml" >"$dir/test.log" 2>&1 || fail "$(cat "$dir/test.log")"
echo "metrics: linted, scraped by Prometheus, alerts tested"
