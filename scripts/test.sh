#!/usr/bin/env bash
# Sets up and builds Kestrel, then runs every test (GUI tests offscreen).
set -euo pipefail
cd "$(dirname "$0")/.."
# Warnings are errors here, where the compiler is the one the code is checked with.
KESTREL_WERROR=${KESTREL_WERROR:-ON} scripts/setup.sh
# The log rows and BER texts are checked under a locale with a decimal comma as well.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "test: no de_DE.UTF-8 locale; those checks skip"
fi
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "${KESTREL_BUILD_DIR:-build}" --output-on-failure -j"$(nproc)" "$@"
