#!/usr/bin/env bash
# Installs the Debian packages Kestrel needs (only those missing), the servers its end-to-end
# tests run against and the tools its checks use included, and builds it into build/:
# everything, or only the targets named as arguments.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(build-essential cmake ninja-build pkg-config
          qt6-base-dev qt6-qpa-plugins libgl-dev
          libgtest-dev libgmock-dev libbenchmark-dev
          libsqlite3-dev sqlite3 prometheus-cpp-dev libmicrohttpd-dev libyaml-cpp-dev libsnmp-dev
          zlib1g-dev libcrypt-dev openssl
          fontconfig fonts-dejavu-core xvfb xauth locales
          prometheus prometheus-alertmanager ser2net snmpd snmptrapd snmp dbus systemd dpkg-dev)
if [ "${KESTREL_EXTRA_PACKAGES:-}" ]; then
    read -r -a extra <<<"$KESTREL_EXTRA_PACKAGES"
    PACKAGES+=("${extra[@]}")
fi

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

BUILD_DIR=${KESTREL_BUILD_DIR:-build}
# Release, as users and packagers build it; the Debian package is made from this build, so it
# takes Debian's hardening flags.
args=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTREL_DPKG_BUILDFLAGS=ON)
# KESTREL_WERROR=ON makes warnings errors (scripts/test.sh does so); unset, the build keeps
# what it was configured with, off on a first build.
[ -z "${KESTREL_WERROR:-}" ] || args+=(-DKESTREL_WERROR="$KESTREL_WERROR")
cmake -S . -B "$BUILD_DIR" "${args[@]}" ${KESTREL_CMAKE_ARGS:-} >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$BUILD_DIR" -j"$(nproc)" "${targets[@]}"
