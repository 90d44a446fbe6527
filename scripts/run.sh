#!/usr/bin/env bash
# Builds the panel and starts it. With no serial port configured (VK9RSC_COM1 unset and
# /dev/ttyS0 absent or unusable), or with VK9RSC_SIMULATOR=1, the panel talks to the
# projector simulator, which is stopped when the panel closes.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${BUILD_PACKAGES[@]}"
build_tree "$BUILD_DIR"
panel="$BUILD_DIR/src/vk9rsc"

port_usable() {
    [ -c "$1" ] && [ -r "$1" ] && [ -w "$1" ] && timeout 2 stty -F "$1" >/dev/null 2>&1
}

if [ -n "${VK9RSC_COM1:-}" ] || { [ "${VK9RSC_SIMULATOR:-0}" != 1 ] && port_usable /dev/ttyS0; }; then
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
VK9RSC_COM1="$link" "$panel" "$@"
