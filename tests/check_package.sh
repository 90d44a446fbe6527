#!/bin/sh
# The Debian packages as users and administrators meet them: built by CPack from the build
# tree, one for each program, each with no error and no warning from lintian; the panel's
# metadata accepted by AppStream; and vk9gate, for a server with no screen, pulling in no
# Qt GUI, no widgets, no platform plugins and no fonts, however deep its dependencies go.
# Usage: check_package.sh BUILD_DIR SOURCE_DIR
set -e
build="$1"
source="$2"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "$*"; exit 1; }
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
for package in vk9rsc vk9ctl vk9gate vk9sim; do
    deb=$(ls "$out"/${package}_*.deb) || fail "no package $package"
    lintian --fail-on error,warning --display-level '>=warning' "$deb" 2>&1 |
        grep -v 'running with root privileges' || true
    lintian --fail-on error,warning "$deb" >/dev/null 2>&1 || fail "lintian refuses $package"
done
appstreamcli validate --no-net "$source/packaging/vk9rsc.metainfo.xml"

# Every package vk9gate needs, and every one those need, as this system has them.
names() { sed 's/([^)]*)//g; s/[,|]/\n/g; s/:any//g' | tr -d ' ' | grep -v '^$' | sort -u; }
gate=$(ls "$out"/vk9gate_*.deb)
seen=""
todo=$(dpkg-deb --field "$gate" Depends | names)
while [ -n "$todo" ]; do
    next=""
    for p in $todo; do
        case " $seen " in *" $p "*) continue ;; esac
        seen="$seen $p"
        next="$next $(dpkg-query -W -f='${Depends},${Pre-Depends}\n' "$p" 2>/dev/null | names)"
    done
    todo=$(echo $next | tr ' ' '\n' | sort -u)
done
echo "vk9gate needs:$seen"
for p in $seen; do
    case "$p" in
        libqt6gui6|libqt6widgets6|qt6-qpa-plugins|fonts-*|libx11-*|libxcb1|libgl1|libfontconfig1)
            fail "vk9gate pulls in $p" ;;
    esac
done
if dpkg-deb --contents "$gate" | grep -E '\.desktop$|/fonts/|/icons/'; then
    fail "vk9gate holds files for a desktop"
fi
dpkg-deb --field "$(ls "$out"/vk9rsc_*.deb)" Depends | grep -q 'fonts-ipafont-gothic' ||
    fail "the panel lost its font"
