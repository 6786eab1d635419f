#!/usr/bin/env bash
# Sets up and builds Kestrel, then starts the MUX simulator and the monitor attached to it,
# with the port already open, in settings of its own (the user's settings stay untouched).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh kestrel kestrel-mux-sim

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    cat >&2 <<'MSG'
demo: there is no display to show the Kestrel window on (neither DISPLAY nor
WAYLAND_DISPLAY is set). Run the demo from a desktop session, or on a virtual display:

    xvfb-run -a scripts/demo.sh

MSG
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-demo.XXXXXX")
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The simulator prints the pseudo-terminal a monitor should open on its first line.
mkfifo "$work/sim.out"
build/tools/mux-sim/kestrel-mux-sim --scenario "${KESTREL_DEMO_SCENARIO:-tour}" \
    >"$work/sim.out" 2>"$work/sim.log" &
sim_pid=$!
exec 3<"$work/sim.out"
if ! IFS= read -r -t 10 pty <&3; then
    echo "demo: the MUX simulator did not start:" >&2
    cat "$work/sim.log" >&2
    exit 1
fi
cat <&3 >/dev/null &

# The demo's own settings: COM1 open at start, mapped to the simulator's line.
mkdir -p "$work/settings/Verdanne Ltd."
printf '[Settings]\nActivePort=1\nPortOpen=1\n' >"$work/settings/Verdanne Ltd./Kestrel.ini"

echo "demo: the MUX simulator is sending on $pty; starting Kestrel on COM1."
echo "demo: close the window to end the demo."
build/app/kestrel --settings-dir "$work/settings" --device "COM1=$pty" "$@"
