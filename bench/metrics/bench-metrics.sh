#!/usr/bin/env bash
# One kestrel-headless serving metrics for many simulated MUXes (one frame a second each, no
# recordings or status files): the size and time of a scrape of /metrics, and the monitor's
# processor time with a scrape every 15 s, as Prometheus would do, and the time of a scrape
# while 500 idle clients and 100 slow ones (a header line a second) hang on.
#
#   bench/metrics/bench-metrics.sh [MUXES] [SECONDS]      default 50 MUXes, 60 s
#
# KESTREL_BUILD names the build folder (default: build). Needs curl and python3.
set -euo pipefail
cd "$(dirname "$0")/../.."

muxes=${1:-50}
seconds=${2:-60}
build=${KESTREL_BUILD:-build}
headless=$build/headless/kestrel-headless
sim=$build/tools/mux-sim/kestrel-mux-sim
for program in "$headless" "$sim"; do
    [ -x "$program" ] || { echo "bench: $program is missing; build first" >&2; exit 1; }
done
command -v curl >/dev/null || { echo "bench: curl is needed" >&2; exit 1; }

work=$(mktemp -d)
sims=()
monitor=""
cleanup() {
    [ -n "$monitor" ] && kill "$monitor" 2>/dev/null || true
    for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

for i in $(seq 1 "$muxes"); do
    "$sim" --scenario quiet --rate 1 --seed "$i" >"$work/sim$i.out" 2>/dev/null &
    sims+=($!)
done
{
    printf '[general]\nmetrics=0\n'
    for i in $(seq 1 "$muxes"); do
        for _ in $(seq 1 100); do [ -s "$work/sim$i.out" ] && break; sleep 0.05; done
        printf '[mux/mux%d]\ndevice=%s\n' "$i" "$(head -n1 "$work/sim$i.out")"
    done
} >"$work/kestrel.ini"

"$headless" --config "$work/kestrel.ini" --state-dir "$work" 2>"$work/headless.err" &
monitor=$!
for _ in $(seq 1 120); do
    [ "$(grep -c ': MUX CONNECTED$' "$work/headless.err" || true)" -ge "$muxes" ] && break
    sleep 0.5
done
url=$(grep -o 'http://[^ ]*/metrics' "$work/headless.err" | head -n1)
sleep 3

# Twenty scrapes back to back: size and time of each.
for _ in $(seq 1 20); do
    curl -s -o /dev/null -w '%{size_download} %{time_total}\n' "$url"
done >"$work/scrapes"
series=$(curl -s "$url" | grep -c '^kestrel_' || true)

ticks() { awk '{print $14 + $15}' "/proc/$monitor/stat"; }
hz=$(getconf CLK_TCK)
t0=$(date +%s.%N)
c0=$(ticks)
end=$(( $(date +%s) + seconds ))
while [ "$(date +%s)" -lt "$end" ]; do
    curl -s -o /dev/null "$url"
    sleep 15
done
c1=$(ticks)
t1=$(date +%s.%N)
rss=$(awk '/^VmRSS/ {print $2}' "/proc/$monitor/status")

# The crowd: 500 connections that say nothing and 100 that trickle a header line a second, held
# while ten scrapes are timed.
port=${url##*:}
port=${port%%/*}
python3 - "$port" <<'PY' &
import socket, sys, time
port = int(sys.argv[1])
idle = [socket.create_connection(("127.0.0.1", port)) for _ in range(500)]
slow = [socket.create_connection(("127.0.0.1", port)) for _ in range(100)]
for s in slow:
    s.sendall(b"GET /metrics HTTP/1.1\r\n")
for _ in range(30):
    time.sleep(1)
    for s in slow:
        s.sendall(b"X-Slow: 1\r\n")
PY
crowd=$!
sleep 3
for _ in $(seq 1 10); do
    curl -s -o /dev/null -m 30 -w '%{time_total}\n' "$url"
done | sort -n >"$work/crowded"
kill "$crowd" 2>/dev/null || true

awk -v n="$muxes" -v series="$series" -v c0="$c0" -v c1="$c1" -v t0="$t0" -v t1="$t1" \
    -v hz="$hz" -v rss="$rss" '
    { size = $1; t[NR] = $2 * 1000; sum += $2 * 1000 }
    END {
        printf "kestrel-headless metrics, %d MUXes at 1 frame/s\n", n
        printf "  scrape:      %d bytes, %d kestrel_ samples\n", size, series
        printf "  scrape time: %.1f ms mean, %.1f ms median, %.1f ms max (%d scrapes)\n", sum / NR, t[int((NR + 1) / 2)], t[NR], NR
        wall = t1 - t0
        printf "  CPU:         %.2f %% of one core with a scrape every 15 s (%.0f s)\n", 100 * (c1 - c0) / hz / wall, wall
        printf "  RSS:         %.1f MB\n", rss / 1024
    }' <(sort -n -k2 "$work/scrapes")
awk '{ t[NR] = $1 * 1000 } END {
        printf "  beside 500 idle and 100 slow clients: %.1f ms median, %.1f ms max (%d scrapes)\n", t[int((NR + 1) / 2)], t[NR], NR
    }' "$work/crowded"
