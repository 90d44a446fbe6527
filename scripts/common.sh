# Shared by run.sh and test.sh: Debian packages and the CMake build.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${VK9RSC_BUILD_DIR:-$ROOT/build}"

# Installs the Debian packages that are not installed yet (as root, or through sudo).
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing Debian packages: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y "${missing[@]}"
}

BUILD_PACKAGES=(cmake make g++ pkg-config qt6-base-dev qt6-serialport-dev libqt6serialport6-dev
                qt6-qpa-plugins fonts-ipafont-gothic libxcb1-dev libtomlplusplus-dev
                libsystemd-dev libmosquitto-dev systemd qt6-httpserver-dev qt6-websockets-dev
                libssl-dev prometheus-cpp-dev)
# The tests also run real network device servers (ser2net, and sredird behind socat) in
# front of pseudo-terminals, drop their packets in a network namespace of their own, and
# build and check the Debian package, and drive the web panel in Debian's Chromium.
TEST_PACKAGES=(ser2net sredird socat nftables iproute2 util-linux dpkg-dev lintian appstream openssl
               ca-certificates systemd man-db mosquitto mosquitto-clients chromium-headless-shell
               prometheus curl)

# Configures and builds the whole tree; extra arguments go to CMake.
build_tree() {
    local dir="$1"
    shift
    cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    cmake --build "$dir" --parallel "$(nproc)"
}
