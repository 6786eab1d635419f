#!/usr/bin/env bash
# Takes the README's screenshot: kestrel on a virtual display, attached to the MUX simulator,
# captured once the window shows data arriving and LEDs lit.
#
#   scripts/screenshot.sh [OUTPUT.png]      default docs/screenshot.png
#
# KESTREL_BUILD names the build folder (default: build). Sets up what it needs (xvfb,
# x11-utils, imagemagick) through scripts/setup.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

output=${1:-docs/screenshot.png}
build=${KESTREL_BUILD:-build}
kestrel=$build/app/kestrel
sim=$build/tools/mux-sim/kestrel-mux-sim

# Build what the picture needs, with the tools to take it, once (not again under xvfb-run).
if [ -z "${KESTREL_SCREENSHOT_DISPLAY:-}" ]; then
    KESTREL_BUILD_DIR=$build KESTREL_EXTRA_PACKAGES="x11-utils imagemagick" \
        scripts/setup.sh kestrel kestrel-mux-sim
fi

# Always on a virtual display of our own, so the picture does not depend on the desktop.
if [ -z "${KESTREL_SCREENSHOT_DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" env KESTREL_SCREENSHOT_DISPLAY=1 "$0" "$@"
fi

. scripts/lib/session.sh
session_start shot

# A line with something to show: local RAI and remote AIS (yellow), local tributaries without
# signal or with code errors (red), remote ones (yellow), and errors for the BER figures.
cat >"$work/shot.script" <<'SCRIPT'
10 0003 00 41 02 09 20 0001 80 00 0c 10 repeat 3
10 0000 00 41 02 09 20 0002 80 00 0c 10 repeat 2
10 0001 00 41 02 09 20 0000 80 00 0c 10 repeat 2
SCRIPT
start_simulator "$sim" --script "$work/shot.script" --loop --rate 1
write_settings
status=$work/status.json
XDG_RUNTIME_DIR=$work "$kestrel" --settings-dir "$work/settings" --device "COM1=$pty" \
    --status-file "$status" >"$work/kestrel.out" 2>"$work/kestrel.err" &
kestrel_pid=$!

# Ready when the MUX is connected, data arrives (the star moves), LEDs are lit and the BER
# figures have left zero.
ready() {
    [ -f "$status" ] || return 1
    grep -q '"mux": "MUX CONNECTED "' "$status" &&
        grep -q '"data": " *\* *"' "$status" &&
        grep -Eq '"(local|remote)(NoSig|CErr)": "[^"]*[ry]' "$status" &&
        grep -Eq '"1125": "y"|"1128": "y"' "$status" &&
        grep -Eq '"nearTotal": "[1-9]' "$status"
}
for _ in $(seq 300); do
    ready && break
    kill -0 "$kestrel_pid" 2>/dev/null || break
    sleep 0.1
done
if ! ready; then
    echo "screenshot: the window never showed data and LEDs:" >&2
    cat "$status" "$work/kestrel.err" >&2 2>/dev/null || true
    exit 1
fi
# Two more seconds: the elapsed time and the BER figures move on from their first values.
sleep 2

window=$(xwininfo -root -tree | awk '/"[^"]* - Kestrel"/ { print $1; exit }')
if [ -z "$window" ]; then
    echo "screenshot: the Kestrel window was not found on the display" >&2
    exit 1
fi
mkdir -p "$(dirname "$output")"
import -window "$window" "$output"

kill -TERM "$kestrel_pid"
wait "$kestrel_pid" || true
kestrel_pid=""
kill -TERM "$sim_pid"
wait "$sim_pid" || true
sim_pid=""
echo "screenshot: $output ($(identify -format '%wx%h' "$output" 2>/dev/null || echo saved))"
