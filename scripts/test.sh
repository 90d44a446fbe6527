#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test headless.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${BUILD_PACKAGES[@]}"
build_tree "$BUILD_DIR" -DVK9RSC_WERROR=ON
cd "$BUILD_DIR"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300
