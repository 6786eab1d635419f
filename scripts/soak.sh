#!/usr/bin/env bash
# Soak run: the MUX simulator at the full line rate into kestrel (offscreen) for a while; reports
# kestrel's memory at start and end, the processor time it used, and whether it counted every
# frame the simulator sent.
#
#   scripts/soak.sh [SECONDS]      default 600
#
# KESTREL_BUILD names the build folder (default: build). Needs a build with the user interface.
set -euo pipefail
cd "$(dirname "$0")/.."

duration=${1:-600}
case "$duration" in
'' | *[!0-9]*)
    echo "usage: scripts/soak.sh [SECONDS]" >&2
    exit 2
    ;;
esac
if [ "$duration" -lt 20 ]; then
    echo "soak: at least 20 seconds, please" >&2
    exit 2
fi
build=${KESTREL_BUILD:-build}
kestrel=$build/app/kestrel
sim=$build/tools/mux-sim/kestrel-mux-sim
for program in "$kestrel" "$sim"; do
    if [ ! -x "$program" ]; then
        echo "soak: $program is missing; build first (cmake --build $build)" >&2
        exit 1
    fi
done

rate=21.33
lead_in=8 # seconds of silence before the first frame: kestrel starts and opens the line
. scripts/lib/session.sh
session_start soak

# A script of well-formed frames only, so that every frame sent is one pass of the parser:
# quiet seconds, errors, local and remote alarms and tributary troubles, about a minute a round.
{
    echo "silence $lead_in"
    rounds=$((duration / 59 + 1))
    for _ in $(seq "$rounds"); do
        echo "00 0000 00 00 00 00 00 0000 00 00 00 00 repeat 420"
        echo "00 0012 00 00 00 00 00 0007 00 00 00 00 repeat 210"
        echo "40 0000 00 00 00 01 00 0000 00 00 00 00 repeat 210"
        echo "00 0003 00 00 00 00 20 0000 80 00 02 00 repeat 210"
        echo "00 0000 55 00 aa 00 00 0000 00 ff 00 11 repeat 210"
    done
} >"$work/soak.script"

start_simulator "$sim" --script "$work/soak.script" --rate "$rate" --seconds $((duration + lead_in))
write_settings
status=$work/status.json
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work "$kestrel" --settings-dir "$work/settings" \
    --device "COM1=$pty" --status-file "$status" >"$work/kestrel.out" 2>"$work/kestrel.err" &
kestrel_pid=$!
started=$(date +%s.%N)

field() { # a number or text member of the status file
    sed -n "s/^ *\"$1\": \"\{0,1\}\([^\",]*\)\"\{0,1\},\{0,1\}\$/\1/p" "$status" 2>/dev/null | head -n 1
}
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$kestrel_pid/status"; }
cpu_ticks() { # user + system time of kestrel, in clock ticks
    sed 's/^.*) //' "/proc/$kestrel_pid/stat" | awk '{ print $12 + $13 }'
}
hz=$(getconf CLK_TCK)

for _ in $(seq 80); do
    [ "$(field port)" = "PORT: OPENED" ] && break
    sleep 0.1
done
if [ "$(field port)" != "PORT: OPENED" ]; then
    echo "soak: kestrel did not open the line within 8 s; frames sent before may be lost" >&2
fi

sleep 10
rss_start=$(rss_kib)
cpu_start=$(cpu_ticks)
t_start=$(date +%s.%N)
echo "soak: $duration s at $rate frames/s on $pty; kestrel pid $kestrel_pid, RSS $rss_start KiB after 10 s"

# Progress once a minute while the simulator plays.
while kill -0 "$sim_pid" 2>/dev/null; do
    for _ in $(seq 60); do
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 1
    done
    if kill -0 "$kestrel_pid" 2>/dev/null; then
        echo "soak: $(awk -v a="$(date +%s.%N)" -v b="$started" 'BEGIN { printf "%.0f", a - b }') s:" \
            "frameCount $(field frameCount), RSS $(rss_kib) KiB, $(field data | tr ' ' '.')"
    else
        echo "soak: kestrel has ended early" >&2
        cat "$work/kestrel.err" >&2
        exit 1
    fi
done
wait "$sim_pid" || true
sim_pid=""

# The line is quiet now: wait until the count stands still over three writes of the status.
last=-1
steady=0
for _ in $(seq 30); do
    now=$(field frameCount)
    if [ "$now" = "$last" ]; then
        steady=$((steady + 1))
        [ "$steady" -ge 3 ] && break
    else
        steady=0
        last=$now
    fi
    sleep 1
done
rss_end=$(rss_kib)
cpu_end=$(cpu_ticks)
t_end=$(date +%s.%N)
frame_count=$(field frameCount)
data_pane=$(field data)

kill -TERM "$kestrel_pid"
kestrel_rc=0
wait "$kestrel_pid" || kestrel_rc=$?
kestrel_pid=""

sim_line=$(grep 'frames sent' "$work/sim.err" || true)
sent=$(sed -n 's/.*frames sent \([0-9]*\).*/\1/p' <<<"$sim_line")
dropped=$(sed -n 's/.*frames dropped \([0-9]*\).*/\1/p' <<<"$sim_line")

calc() { awk "BEGIN { printf \"$1\", $2 }"; }
cpu_s=$(calc %.2f "($cpu_end - $cpu_start) / $hz")
cpu_total_s=$(calc %.2f "$cpu_end / $hz")
wall_s=$(calc %.1f "$t_end - $t_start")
share=$(calc %.3f "100 * ($cpu_end - $cpu_start) / $hz / ($t_end - $t_start)")

echo
echo "soak report ($duration s of frames at $rate frames/s)"
echo "  simulator:        $sim_line"
echo "  kestrel frameCount: $frame_count (data pane at the end: \"$data_pane\")"
if [ -n "$sent" ] && [ "$sent" = "$frame_count" ]; then
    echo "  frames:           every frame sent was counted ($sent)"
else
    echo "  frames:           sent $sent, counted $frame_count, difference $((${sent:-0} - ${frame_count:-0}))"
    echo "                    (frames the simulator dropped because nobody read them in time: ${dropped:-?})"
fi
echo "  RSS:              $rss_start KiB after 10 s, $rss_end KiB at the end ($((rss_end - rss_start)) KiB)"
echo "  CPU:              $cpu_s s over $wall_s s measured ($share % of one core);" \
    "$cpu_total_s s including start-up"
echo "  kestrel exit:     $kestrel_rc"
[ "$kestrel_rc" -eq 0 ] && [ "$sent" = "$frame_count" ]
