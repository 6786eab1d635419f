#!/usr/bin/env bash
# Sets up and builds Kestrel, then decodes the bundled sample capture with kestrel-replay.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
echo "Decoding res/sample/sample-capture.bin (three minutes of MUX status frames) with"
echo "kestrel-replay; each line is the monitor state after one hand-over of 320 bytes:"
build/tools/replay/kestrel-replay res/sample/sample-capture.bin | tail -n 3
