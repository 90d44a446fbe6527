#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test headless; then builds the
# whole suite again with AddressSanitizer and UndefinedBehaviorSanitizer and runs it again.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
# A real PJLink client comes from the npm registry (the tests install it into the build).
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    ensure_packages nodejs npm
fi
export QT_QPA_PLATFORM=offscreen

build_tree "$BUILD_DIR" -DVK9RSC_WERROR=ON
(cd "$BUILD_DIR" && ctest --output-on-failure --timeout 300)

echo "== the same tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$ROOT" -B "$BUILD_DIR-asan" -DCMAKE_BUILD_TYPE=Debug -DVK9RSC_WERROR=ON \
      -DVK9RSC_SANITIZE=ON
cmake --build "$BUILD_DIR-asan" --parallel "$(nproc)"
(cd "$BUILD_DIR-asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure --timeout 600)
