#!/usr/bin/env bash
# Builds the panel and starts it with the arguments given (see --help). When no line is
# named for port 1, neither by --com1 nor by VK9RSC_COM1, port 1 is the projector simulator,
# which is stopped when the panel closes: most PCs have a /dev/ttyS0 whether or not a
# projector hangs on it, and a newcomer should see a panel that answers.
#   bash scripts/run.sh --com1 /dev/ttyUSB0              a real line
#   bash scripts/run.sh --com1 rfc2217://hall-server:7001  a line behind ser2net
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${BUILD_PACKAGES[@]}"
build_tree "$BUILD_DIR"
panel="$BUILD_DIR/src/vk9rsc/vk9rsc"

for arg in "$@"; do
    case "$arg" in
    --com1 | --com1=* | -h | --help | -v | --version | --list-ports) exec "$panel" "$@" ;;
    esac
done
if [ -n "${VK9RSC_COM1:-}" ]; then
    exec "$panel" "$@"
fi

simdir="$(mktemp -d)"
link="$simdir/com1"
"$BUILD_DIR/tools/sim/vk9sim" --log "$simdir/vk9sim.log" "$link" &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; rm -rf "$simdir"' EXIT
for _ in $(seq 50); do
    [ -e "$link" ] && break
    sleep 0.1
done
echo "No serial port configured: port 1 is the projector simulator ($link)."
echo "Its frame log: $simdir/vk9sim.log"
"$panel" --com1 "$link" "$@"
