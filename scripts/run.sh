#!/usr/bin/env bash
# Builds the panel and starts it.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages "${BUILD_PACKAGES[@]}"
build_tree "$BUILD_DIR"
exec "$BUILD_DIR/src/vk9rsc" "$@"
