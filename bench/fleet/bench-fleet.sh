#!/usr/bin/env bash
# kestrel-headless on 50, 200 and 1,000 simulated MUXes (or the counts given), one frame a
# second each, with line memory, status pictures and metrics on; one table row per count.
# CPU is measured between scrapes; "scrape" is the CPU one scrape of every MUX's figures costs
# the monitor (at Prometheus's 15 s, a fifteenth of it is added to the CPU column).
#
#   bench/fleet/bench-fleet.sh [MUXES...]
#
# A restart over the databases the first run wrote is timed too. KESTREL_BUILD names the
# build folder (default: build); BENCH_SECONDS the steady window (default 30); BENCH_STOP_AT
# when SIGTERM reaches the last run, which records every MUX (default 1 s after its start);
# BENCH_TMPDIR where the files go (default /tmp); BENCH_HEADLESS another kestrel-headless to
# measure (an earlier build).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${KESTREL_BUILD:-build}
bench=$build/bench/fleet/kestrel-bench-fleet
headless=${BENCH_HEADLESS:-$build/headless/kestrel-headless}
for program in "$bench" "$headless"; do
    if [ ! -x "$program" ]; then
        echo "bench: $program is missing; build first" >&2
        exit 1
    fi
done
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(50 200 1000)

echo "| MUXes | start-up  | restart   | CPU      | RSS       | threads | fully watched                | scrape  | stop    | stop during start-up (recording) |"
echo "|-------|-----------|-----------|----------|-----------|---------|------------------------------|---------|---------|----------------------------------|"
status=0
for n in "${counts[@]}"; do
    work=$(mktemp -d -p "${BENCH_TMPDIR:-/tmp}" kestrel-fleet.XXXXXX)
    "$bench" --headless "$headless" --dir "$work" --muxes "$n" --seconds "${BENCH_SECONDS:-30}" \
        --stop-during-start "${BENCH_STOP_AT:-1}" || status=1
    rm -rf "$work"
done
exit $status
