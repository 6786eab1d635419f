#!/usr/bin/env bash
# Sets up and builds Kestrel, then runs every test (GUI tests offscreen).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "${KESTREL_BUILD_DIR:-build}" --output-on-failure -j"$(nproc)" "$@"
