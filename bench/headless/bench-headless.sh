#!/usr/bin/env bash
# One kestrel-headless watching many simulated MUXes over pseudo-terminals, one frame a second
# each: reports the monitor's processor time as a share of one core and its memory.
#
#   bench/headless/bench-headless.sh [MUXES] [SECONDS]      default 50 MUXes, 60 s
#
# KESTREL_BUILD names the build folder (default: build). BENCH_RECORD=0 leaves out the
# statistics files, BENCH_STATUS=0 the status pictures (both are on by default: the costlier
# case). BENCH_TMPDIR says where the files go (default /tmp; /run or /dev/shm for tmpfs). The
# start-up is not measured, nor the frames counted: bench/fleet does both, with metrics.
set -euo pipefail
cd "$(dirname "$0")/../.."

muxes=${1:-50}
seconds=${2:-60}
build=${KESTREL_BUILD:-build}
headless=$build/headless/kestrel-headless
sim=$build/tools/mux-sim/kestrel-mux-sim
for program in "$headless" "$sim"; do
    if [ ! -x "$program" ]; then
        echo "bench: $program is missing; build first" >&2
        exit 1
    fi
done

work=$(mktemp -d -p "${BENCH_TMPDIR:-/tmp}")
sims=()
monitor=""
cleanup() {
    [ -n "$monitor" ] && kill "$monitor" 2>/dev/null || true
    for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/status" "$work/rec"

for i in $(seq 1 "$muxes"); do
    "$sim" --scenario quiet --rate 1 --seed "$i" >"$work/sim$i.out" 2>"$work/sim$i.err" &
    sims+=($!)
done
{
    if [ "${BENCH_STATUS:-1}" = 1 ]; then
        printf '[general]\nstatus-dir=%s\n' "$work/status"
    fi
    for i in $(seq 1 "$muxes"); do
        for _ in $(seq 1 100); do
            [ -s "$work/sim$i.out" ] && break
            sleep 0.05
        done
        printf '[mux/mux%d]\ndevice=%s\n' "$i" "$(head -n1 "$work/sim$i.out")"
        if [ "${BENCH_RECORD:-1}" = 1 ]; then
            printf 'record=%s/rec/mux%d.csv\n' "$work" "$i"
        fi
    done
} >"$work/kestrel.ini"

: >"$work/headless.err"
"$headless" --config "$work/kestrel.ini" --state-dir "$work" 2>>"$work/headless.err" &
monitor=$!
for _ in $(seq 1 120); do
    [ "$(grep -c ': MUX CONNECTED$' "$work/headless.err" || true)" -ge "$muxes" ] && break
    sleep 0.5
done
connected=$(grep -c ': MUX CONNECTED$' "$work/headless.err" || true)
sleep 5 # past "No Data" and the first flushes

ticks() { awk '{print $14 + $15}' "/proc/$monitor/stat"; }
hz=$(getconf CLK_TCK)
t0=$(date +%s.%N)
c0=$(ticks)
sleep "$seconds"
c1=$(ticks)
t1=$(date +%s.%N)
rss=$(awk '/^VmRSS/ {print $2}' "/proc/$monitor/status")
hwm=$(awk '/^VmHWM/ {print $2}' "/proc/$monitor/status")
threads=$(awk '/^Threads/ {print $2}' "/proc/$monitor/status")

kill -TERM "$monitor"
status=0
wait "$monitor" || status=$?
monitor=""

awk -v c0="$c0" -v c1="$c1" -v t0="$t0" -v t1="$t1" -v hz="$hz" -v n="$muxes" \
    -v conn="$connected" -v rss="$rss" -v hwm="$hwm" -v th="$threads" \
    -v rec="${BENCH_RECORD:-1}" -v st="${BENCH_STATUS:-1}" 'BEGIN {
    wall = t1 - t0
    printf "kestrel-headless, %d MUXes at 1 frame/s (recording %s, status files %s)\n", n, rec ? "on" : "off", st ? "on" : "off"
    printf "  connected:   %d of %d\n", conn, n
    printf "  measured:    %.1f s\n", wall
    printf "  CPU:         %.2f %% of one core (%.2f s)\n", 100 * (c1 - c0) / hz / wall, (c1 - c0) / hz
    printf "  RSS:         %.1f MB now, %.1f MB peak\n", rss / 1024, hwm / 1024
    printf "  threads:     %d\n", th
}'
if [ "$status" -ne 0 ]; then
    echo "bench: kestrel-headless ended with status $status" >&2
    exit 1
fi
