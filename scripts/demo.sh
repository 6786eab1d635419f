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

. scripts/lib/session.sh
session_start demo
start_simulator build/tools/mux-sim/kestrel-mux-sim --scenario "${KESTREL_DEMO_SCENARIO:-tour}"
write_settings

echo "demo: the MUX simulator is sending on $pty; starting Kestrel on COM1."
echo "demo: close the window to end the demo."
build/app/kestrel --settings-dir "$work/settings" --device "COM1=$pty" "$@"
