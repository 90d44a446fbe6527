#!/usr/bin/env bash
# Builds the panel and runs the benchmark: repeat accuracy, latencies (directly and through
# ser2net on 127.0.0.1), a receive flood, start-up, memory and idle cost beside a bare Qt
# window (on Xvfb when no display is set), and a soak against the simulator
# (VK9RSC_SOAK_MINUTES, default 10). The report goes to docs/PERFORMANCE.md. Takes about as
# long as the soak plus three minutes. Then the web panel's figures, in Debian's Chromium
# driven by playwright-core (from tests/web's lockfile), about three minutes more.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${BUILD_PACKAGES[@]}" xvfb ser2net chromium-headless-shell nodejs npm
build_tree "$BUILD_DIR"
if [ -z "${DISPLAY:-}" ]; then
    export DISPLAY=:93
    Xvfb "$DISPLAY" -screen 0 1280x1024x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    trap 'kill "$xvfb" 2>/dev/null' EXIT
    for _ in $(seq 100); do # until the server listens
        [ -S "/tmp/.X11-unix/X${DISPLAY#:}" ] && break
        sleep 0.1
    done
fi
"$BUILD_DIR/tools/bench/vk9rsc-bench" \
    --panel "$BUILD_DIR/src/vk9rsc/vk9rsc" --bare "$BUILD_DIR/tools/bench/vk9rsc-barewindow" \
    --sim "$BUILD_DIR/tools/sim/vk9sim" --soak "${VK9RSC_SOAK_MINUTES:-10}" \
    --ctl "$BUILD_DIR/src/vk9ctl/vk9ctl" --gate "$BUILD_DIR/src/vk9gate/vk9gate" \
    --out "$ROOT/docs/PERFORMANCE.md" "$@"
modules="$BUILD_DIR/npm-web"
if ! cmp -s "$ROOT/tests/web/package-lock.json" "$modules/package-lock.json"; then
    mkdir -p "$modules"
    cp "$ROOT/tests/web/package.json" "$ROOT/tests/web/package-lock.json" "$modules/"
    (cd "$modules" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --ignore-scripts --no-audit --no-fund)
fi
node "$ROOT/tools/bench/web_bench.mjs" "$modules" "$BUILD_DIR/tools/sim/vk9sim" \
    "$BUILD_DIR/src/vk9gate/vk9gate" "$ROOT/docs/PERFORMANCE.md"
