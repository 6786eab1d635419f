#!/usr/bin/env bash
# The real window's processor time with the Performance window open over a day of the
# simulator's tour in the line's memory, against a fresh memory and the window closed.
#
#     bench/views/bench-window.sh [BUILD] [SECONDS]
#
# BUILD defaults to build/, SECONDS (each measurement) to 60. Runs kestrel on the MUX
# simulator's tour, in settings and a line memory of its own, on the display there is (under
# xvfb-run when there is none, offscreen when there is no xvfb-run either), and prints the CPU
# of the kestrel process as % of one core, from /proc, after a warm-up of 10 s.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath "${1:-build}")
seconds=${2:-60}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ] &&
    [ -z "${KESTREL_BENCH_NESTED:-}" ]; then
    if command -v xvfb-run >/dev/null; then
        exec env KESTREL_BENCH_NESTED=1 xvfb-run -a "$0" "$build" "$seconds"
    fi
    export QT_QPA_PLATFORM=offscreen
fi

. scripts/lib/session.sh
session_start bench-window
sim=$build/tools/mux-sim/kestrel-mux-sim

# A day of the tour, ending a minute ago, as the line's memory of COM1.
now=$(date +%s)
start=$(date -u -d "@$((now - 86400 - 60))" +%Y-%m-%dT%H:%M:%SZ)
"$sim" --seconds 86400 --capture "$work/day.cap"
mkdir -p "$work/day/kestrel"
"$build/tools/replay/kestrel-replay" --performance --start "$start" \
    --db "$work/day/kestrel/COM1.sqlite" "$work/day.cap" >/dev/null
mkdir -p "$work/fresh/kestrel"

start_simulator "$sim" --scenario tour
write_settings

# cpu DATA PERFORMANCE LABEL: kestrel over the memory in $work/DATA, the Performance window
# open (1) or not (0).
cpu() {
    printf '[Settings]\nActivePort=1\nPortOpen=1\n[View]\nPerformance=%s\n' "$2" \
        >"$work/settings/Verdanne Ltd./Kestrel.conf"
    XDG_DATA_HOME=$work/$1 "$build/app/kestrel" --settings-dir "$work/settings" \
        --device "COM1=$pty" >/dev/null 2>&1 &
    kestrel_pid=$!
    sleep 10
    local ticks before after
    ticks=$(getconf CLK_TCK)
    before=$(awk '{print $14 + $15}' "/proc/$kestrel_pid/stat")
    sleep "$seconds"
    after=$(awk '{print $14 + $15}' "/proc/$kestrel_pid/stat")
    kill -TERM "$kestrel_pid"
    wait "$kestrel_pid" || true
    kestrel_pid=""
    awk -v d=$((after - before)) -v t="$ticks" -v s="$seconds" -v l="$3" \
        'BEGIN { printf "%-44s %6.2f %% of a core\n", l, 100 * d / t / s }'
}
echo "kestrel on the tour, ${seconds} s each, QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-xcb}"
cpu day 1 "Performance window open, a day in memory"
cpu fresh 1 "Performance window open, fresh memory"
cpu day 0 "Performance window closed, a day in memory"
