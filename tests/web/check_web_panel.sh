#!/bin/sh
# The web panel in Debian's Chromium (chromium-headless-shell), driven by playwright-core
# from the npm registry, installed here into the build from its lockfile
# (tests/web/package-lock.json), without a browser download. Never skipped.
# Usage: check_web_panel.sh SOURCE_DIR MODULES_DIR VK9SIM VK9GATE VK9CTL [SHOTS_DIR]
source="$1"
modules="$2"
fail() { echo "$*"; exit 1; }

[ -x /usr/lib/chromium/chromium-headless-shell ] || fail "chromium-headless-shell is not installed"
if [ ! -d "$modules/node_modules/playwright-core" ] ||
    ! cmp -s "$source/tests/web/package-lock.json" "$modules/package-lock.json"; then
    command -v npm >/dev/null || fail "npm is not installed"
    mkdir -p "$modules"
    cp "$source/tests/web/package.json" "$source/tests/web/package-lock.json" "$modules/"
    if ! (cd "$modules" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --ignore-scripts --no-audit \
            --no-fund) >"$modules/npm.log" 2>&1; then
        cat "$modules/npm.log"
        fail "playwright-core could not be installed from the npm registry"
    fi
fi
VK9_MODULES="$modules" VK9SIM="$3" VK9GATE="$4" VK9CTL="$5" VK9_SHOTS="$6" \
    exec node --test --test-concurrency=1 "$source/tests/web/panel.test.mjs"
