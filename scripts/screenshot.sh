#!/usr/bin/env bash
# Takes the README's screenshots: kestrel on a virtual display, attached to the MUX simulator,
# captured once the window shows data arriving and LEDs lit. Then, over a day of a simulated
# line replayed into the line's memory, the window with its alarm journal and the Performance
# window.
#
#   scripts/screenshot.sh [FOLDER]      default docs: screenshot.png, journal.png, performance.png,
#                                       screenshot-150.png, beside.png, beside-150.png
#
# The last three are taken at 150 % (QT_SCALE_FACTOR=1.5) and with the Performance window beside
# the main window on the whole 1280 x 1024 screen, at 100 % and at 150 %.
# KESTREL_BUILD names the build folder (default: build). Sets up what it needs (xvfb,
# x11-utils, imagemagick) through scripts/setup.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

folder=${1:-docs}
build=${KESTREL_BUILD:-build}
kestrel=$build/app/kestrel
sim=$build/tools/mux-sim/kestrel-mux-sim
replay=$build/tools/replay/kestrel-replay

# Build what the picture needs, with the tools to take it, once (not again under xvfb-run).
if [ -z "${KESTREL_SCREENSHOT_DISPLAY:-}" ]; then
    KESTREL_BUILD_DIR=$build KESTREL_EXTRA_PACKAGES="x11-utils imagemagick" \
        scripts/setup.sh kestrel kestrel-mux-sim kestrel-replay
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

# Starts kestrel on the simulator and waits until the MUX is connected, data arrives (the star
# moves), LEDs are lit and the BER figures have left zero.
start_kestrel() {
    rm -f "$status"
    XDG_RUNTIME_DIR=$work QT_SCALE_FACTOR=${scale:-1} "$kestrel" --settings-dir "$work/settings" --device "COM1=$pty" \
        --status-file "$status" >"$work/kestrel.out" 2>"$work/kestrel.err" &
    kestrel_pid=$!
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
}
ready() {
    [ -f "$status" ] || return 1
    grep -q '"mux": "MUX CONNECTED "' "$status" &&
        grep -q '"data": " *\* *"' "$status" &&
        grep -Eq '"(local|remote)(NoSig|CErr)": "[^"]*[ry]' "$status" &&
        grep -Eq '"1125": "y"|"1128": "y"' "$status" &&
        grep -Eq '"nearTotal": "[1-9]' "$status"
}
stop_kestrel() {
    kill -TERM "$kestrel_pid"
    wait "$kestrel_pid" || true
    kestrel_pid=""
}

# TITLE-PATTERN OUTPUT: the top-level window whose title matches, as a PNG.
grab() {
    local window
    window=$(xwininfo -root -tree | awk -v t="$1" '$0 ~ t { print $1; exit }')
    if [ -z "$window" ]; then
        echo "screenshot: no window titled like $1 on the display" >&2
        exit 1
    fi
    mkdir -p "$(dirname "$2")"
    import -window "$window" "$2"
    echo "screenshot: $2 ($(identify -format '%wx%h' "$2" 2>/dev/null || echo saved))"
}

start_kestrel
grab '"[^"]* - Kestrel"' "$folder/screenshot.png"
stop_kestrel

# A day of a line in the line's memory, ending now: clean until its last hours, then a loss
# of signal, AIS, a remote RAI, tributaries going and coming back, an hour of light errors,
# ten minutes without frames and a burst that makes the near end unavailable.
q='00 0000 00 00 00 00 00 0000 00 00 00 00'
cat >"$work/day.script" <<SCRIPT
$q repeat 57000
08 0000 00 00 00 00 00 0000 00 00 00 00 repeat 240
$q repeat 3000
20 0000 00 00 00 00 00 0000 00 00 00 00 repeat 90
$q repeat 2000
00 0000 00 00 00 00 10 0003 00 00 00 00 repeat 900
$q repeat 3000
00 0000 00 00 01 04 00 0000 00 00 00 00 repeat 1800
$q repeat 3000
00 0002 00 00 00 00 00 0000 00 00 00 00 repeat 3600
silence 600
$q repeat 2000
00 0030 00 00 00 00 00 0000 00 00 00 00 repeat 300
$q repeat 1200
00 0001 00 00 00 00 00 0004 00 00 00 00 repeat 1800
00 0000 00 00 00 00 00 0000 00 40 00 00 repeat 600
$q repeat 4970
00 0003 00 00 00 00 00 0000 00 00 00 00 repeat 300
SCRIPT
"$sim" --script "$work/day.script" --capture "$work/day.bin" 2>"$work/capture.log"
# The simulator says how many seconds it captured: the day ends at the second before the window
# opens.
passes=$(sed -n 's/^kestrel-mux-sim: captured \([0-9]*\) seconds.*/\1/p' "$work/capture.log")
start=$(date -u -d "@$(($(date +%s) - passes - 5))" +%Y-%m-%dT%H:%M:%SZ)
mkdir -p "$XDG_DATA_HOME/kestrel"
rm -f "$XDG_DATA_HOME/kestrel/COM1.sqlite"*  # what the first picture's run remembered
"$replay" --performance --start "$start" --chunk 45 --db "$XDG_DATA_HOME/kestrel/COM1.sqlite" \
    "$work/day.bin" >/dev/null

# Each view in a run of its own, so that no window covers part of another in the picture.
settings=$work/settings/Verdanne\ Ltd./Kestrel.conf
view_settings() { # JOURNAL PERFORMANCE
    sed -i '/^\[View\]/,$d' "$settings"
    printf '[View]\nAlarmJournal=%s\nPerformance=%s\nG821Figures=1\n' "$1" "$2" >>"$settings"
}
view_settings 1 0
# Taller, so that the journal leaves the panel in view.
sed -i '/^WindowPos=/d; s/^\[Settings\]$/[Settings]\nWindowPos="0,1,-1,-1,-1,-1,0,0,860,980"/' "$settings"
start_kestrel
grab '"[^"]* - Kestrel"' "$folder/journal.png"
stop_kestrel
view_settings 0 1
start_kestrel
grab '"Performance' "$folder/performance.png"
stop_kestrel

# At the default size (no saved placement), at 100 % and at 150 %: the main window alone, and
# with the Performance window beside it on the whole screen (moved there, as there is no window
# manager on the virtual display to place it).
window_of() { xwininfo -root -tree | awk -v t="$1" '$0 ~ t { print $1; exit }'; }
beside() { # OUTPUT
    local main performance width other x
    main=$(window_of '"[^"]* - Kestrel"')
    performance=$(window_of '"Performance')
    width=$(xwininfo -id "$main" | awk '/Width:/ { print $2 }')
    other=$(xwininfo -id "$performance" | awk '/Width:/ { print $2 }')
    # Beside it where the screen has room; at 150 % it has not, and the Performance window
    # covers the main window's right side from a third of the way down, as a window manager
    # would stack it.
    x=$((width + 8))
    y=0
    if [ $((x + other)) -gt 1280 ]; then
        x=$((1280 - other > 0 ? 1280 - other : 0))
        y=340
    fi
    xdotool windowmove "$main" 0 0 windowmove "$performance" "$x" "$y"
    sleep 1
    mkdir -p "$(dirname "$1")"
    import -window root "$1"
    echo "screenshot: $1"
}
sed -i '/^WindowPos=/d' "$settings"
for scale in 1 1.5; do
    view_settings 0 0
    start_kestrel
    [ "$scale" = 1 ] || grab '"[^"]* - Kestrel"' "$folder/screenshot-150.png"
    stop_kestrel
    view_settings 0 1
    start_kestrel
    beside "$folder/beside$([ "$scale" = 1 ] || echo -150).png"
    stop_kestrel
done
scale=1
kill -TERM "$sim_pid"
wait "$sim_pid" || true
sim_pid=""
