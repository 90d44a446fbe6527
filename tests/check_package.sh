#!/bin/sh
# The Debian package as a user or administrator meets it: built by CPack from the build
# tree, with no error and no warning from lintian, and metadata that AppStream accepts.
# Usage: check_package.sh BUILD_DIR SOURCE_DIR
set -e
build="$1"
source="$2"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
deb=$(ls "$out"/*.deb)
lintian --fail-on error,warning --display-level '>=warning' "$deb"
appstreamcli validate --no-net "$source/packaging/vk9rsc.metainfo.xml"
dpkg-deb --field "$deb" Depends
