#!/usr/bin/env bash
# SNMP walks against kestrel-headless as an AgentX subagent of a real snmpd (Debian packages
# snmpd and snmp), watching 50 simulated MUXes (or the count given), the first with a day of
# line memory: bulk walks of every current table, of the first MUX's interval tables and of the
# ifTable, each a few times; the panel refreshes during the walks against a quiet window as
# long; CPU and RSS. Fails when a walk returns fewer varbinds than the lines served.
#
#   bench/snmp/bench-snmp.sh [MUXES]
#
# KESTREL_BUILD names the build folder (default: build); BENCH_ROUNDS how often each walk is
# made (default 5); BENCH_TMPDIR where the files go (default /tmp); BENCH_HEADLESS another
# kestrel-headless to measure (an earlier build).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${KESTREL_BUILD:-build}
bench=$build/bench/snmp/kestrel-bench-snmp
headless=${BENCH_HEADLESS:-$build/headless/kestrel-headless}
muxsim=$build/tools/mux-sim/kestrel-mux-sim
replay=$build/tools/replay/kestrel-replay
for program in "$bench" "$headless" "$muxsim" "$replay"; do
    if [ ! -x "$program" ]; then
        echo "bench: $program is missing; build first" >&2
        exit 1
    fi
done
for program in snmpd snmpbulkwalk snmpget; do
    if ! command -v "$program" > /dev/null; then
        echo "bench: $program is missing (Debian packages snmpd, snmp)" >&2
        exit 1
    fi
done
work=$(mktemp -d -p "${BENCH_TMPDIR:-/tmp}" kestrel-snmp.XXXXXX)
trap 'rm -rf "$work"' EXIT
"$bench" --headless "$headless" --mux-sim "$muxsim" --replay "$replay" --dir "$work" \
    --muxes "${1:-50}" --rounds "${BENCH_ROUNDS:-5}"
