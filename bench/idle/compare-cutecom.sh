#!/usr/bin/env bash
# What watching a MUX costs: Kestrel against CuteCom, a plain serial terminal, each reading
# its own copy of the same simulated stream on a pseudo-terminal, both on one virtual X
# display. Reports the median processor time (% of one core) and wake-ups per second of each,
# and the wake-ups of each thread.
#
#   bench/idle/compare-cutecom.sh [--seconds N] [--rates "1 21"] [--window S] [--kestrel-env V=X]...
#
# N seconds per rate (default 60), measured in windows of S seconds (default 20) after a
# lead-in of a few seconds. KESTREL_BUILD names the build folder (default: build). Installs
# CuteCom, Xvfb and xdotool with apt-get when they are missing. --kestrel-env sets a variable
# in Kestrel's environment only (to try a setting). No real serial device is
# opened: both programs read pseudo-terminals of the simulator.
set -euo pipefail
cd "$(dirname "$0")/../.."

arguments=("$@")
seconds=60
rates="1 21"
window=20
kestrel_env=()
while [ $# -gt 0 ]; do
    case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --rates) rates=$2; shift 2 ;;
    --window) window=$2; shift 2 ;;
    --kestrel-env) kestrel_env+=("$2"); shift 2 ;;
    *)
        echo "usage: bench/idle/compare-cutecom.sh [--seconds N] [--rates \"1 21\"] [--window S]" \
            "[--kestrel-env VAR=VALUE]..." >&2
        exit 2
        ;;
    esac
done
case "$seconds$window" in *[!0-9]*)
    echo "compare-cutecom: --seconds and --window take whole seconds" >&2
    exit 2
    ;;
esac
if [ "$seconds" -lt "$window" ]; then
    window=$seconds
fi

build=${KESTREL_BUILD:-build}
kestrel=$build/app/kestrel
sim=$build/tools/mux-sim/kestrel-mux-sim

# Everything runs on a display of its own, so that a desktop's compositor or a user's mouse
# cannot move the numbers.
if [ -z "${KESTREL_COMPARE_INNER:-}" ]; then
    missing=()
    command -v cutecom >/dev/null || missing+=(cutecom)
    command -v xvfb-run >/dev/null || missing+=(xvfb xauth)
    command -v xdotool >/dev/null || missing+=(xdotool)
    if [ ${#missing[@]} -gt 0 ]; then
        sudo=()
        [ "$(id -u)" -eq 0 ] || sudo=(sudo)
        echo "compare-cutecom: installing ${missing[*]}"
        ${sudo[@]+"${sudo[@]}"} apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
    fi
    for program in "$kestrel" "$sim"; do
        if [ ! -x "$program" ]; then
            echo "compare-cutecom: $program is missing; build first (cmake --build $build)" >&2
            exit 1
        fi
    done
    export KESTREL_COMPARE_INNER=1
    # xvfb-run -a takes the first free display from :99 on; two scripts starting at once may
    # both take it, and the first to end takes the other's display with it (the programs then
    # abort, unable to connect). Starting the search elsewhere keeps out of their way.
    exec xvfb-run -a -n $((100 + $$ % 800)) -s "-screen 0 1600x1200x24" "$0" "${arguments[@]}"
fi

. scripts/lib/session.sh
session_start compare
lead_in=5

# CuteCom reads its device from the session of its configuration file; it opens it when the
# Open button is pressed, which xdotool does with its key (Alt+O). Read-only, 9600 bit/s, no
# RTS/DTR or reconnecting: a pseudo-terminal has no modem lines. Its line break is CR, the
# MUX's own: with the default LF it would grow one endless line, whose layout alone would
# make its figure mean nothing.
start_cutecom() { # PTY: sets cutecom_pid
    local home=$work/cutecom-home
    mkdir -p "$home/.config/CuteCom"
    cat >"$home/.config/CuteCom/CuteCom5.conf" <<CONF
[CuteCom]
session=Default
LineTerminator=1

[sessions]
1\\name=Default
1\\Device=$1
1\\BaudRate=9600
1\\DataBits=8
1\\Parity=0
1\\StopBits=1
1\\FlowControl=0
1\\OpenMode=1
1\\autoReconnect=false
size=1
CONF
    HOME=$home XDG_CONFIG_HOME=$home/.config XDG_RUNTIME_DIR=$work cutecom \
        >"$work/cutecom.out" 2>&1 &
    cutecom_pid=$!
    session_pids+=("$cutecom_pid")
    local shown=""
    for _ in $(seq 100); do
        shown=$(xdotool search --pid "$cutecom_pid" --onlyvisible --name CuteCom 2>/dev/null |
            head -n 1 || true)
        [ -n "$shown" ] && break
        sleep 0.1
    done
    if [ -z "$shown" ]; then
        echo "compare-cutecom: CuteCom showed no window" >&2
        exit 1
    fi
    # Beside Kestrel's window rather than over it.
    xdotool windowmove --sync "$shown" 900 0
    xdotool windowfocus --sync "$shown"
    sleep 0.5
    # Setting the modem lines of a pseudo-terminal fails; CuteCom says so in a box (left open:
    # a key could reach the Close button instead) and reads on.
    xdotool key --clearmodifiers alt+o
    for _ in $(seq 50); do
        if [ "$(readlink -f /proc/"$cutecom_pid"/fd/* 2>/dev/null | grep -cx "$1")" -gt 0 ]; then
            return 0
        fi
        sleep 0.1
    done
    echo "compare-cutecom: CuteCom did not open $1" >&2
    exit 1
}

results=$work/results
: >"$results"
for rate in $rates; do
    sim_rate=$rate
    [ "$rate" = 21 ] && sim_rate=21.33 # what the line carries
    session_pids=()
    sim_name=sim-kestrel start_simulator "$sim" --scenario quiet --rate "$sim_rate"
    session_pids+=("$sim_pid")
    kestrel_pty=$pty
    sim_name=sim-cutecom start_simulator "$sim" --scenario quiet --rate "$sim_rate"
    session_pids+=("$sim_pid")
    cutecom_pty=$pty
    sim_pid=""

    write_settings
    env XDG_RUNTIME_DIR="$work" ${kestrel_env[@]+"${kestrel_env[@]}"} "$kestrel" --settings-dir "$work/settings" \
        --device "COM1=$kestrel_pty" >"$work/kestrel.out" 2>&1 &
    kestrel_pid=$!
    start_cutecom "$cutecom_pty"

    sleep "$lead_in"
    # A program that ended is not measured: say so with what it said last, rather than
    # leaving a sampler's complaint about a missing process.
    for program in kestrel cutecom; do
        pid_var=${program}_pid
        if ! kill -0 "${!pid_var}" 2>/dev/null; then
            status=0
            wait "${!pid_var}" || status=$?
            echo "compare-cutecom: $program ended (status $status) before the measurement:" >&2
            tail -n 20 "$work/$program.out" >&2
            exit 1
        fi
    done
    echo "compare-cutecom: $rate frames/s, $seconds s ..." >&2
    python3 bench/idle/procsample.py "$seconds" "$window" "kestrel=$kestrel_pid" \
        "cutecom=$cutecom_pid" | sed "s/^/$rate /" >>"$results"

    for pid in "$kestrel_pid" "${session_pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    kestrel_pid=""
    session_pids=()
    rm -rf "$work/settings" "$work/cutecom-home"
done

echo
echo "| Stream | Kestrel CPU (median) | CuteCom CPU | Kestrel wake-ups/s | CuteCom wake-ups/s |"
echo "|---|---|---|---|---|"
for rate in $rates; do
    awk -v rate="$rate" '
        $1 == rate && $2 == "process" { cpu[$3] = $4; wake[$3] = $5 }
        END {
            printf "| %s frame%s/s | %.2f%% of a core | %.2f%% | %.1f | %.1f |\n", rate,
                rate == 1 ? "" : "s", cpu["kestrel"], cpu["cutecom"], wake["kestrel"],
                wake["cutecom"]
        }' "$results"
done
echo
echo "Wake-ups per second of each thread (main: the user-interface thread):"
echo
echo "| Stream | Program | Thread | Wake-ups/s |"
echo "|---|---|---|---|"
awk '$2 == "thread" { printf "| %s frame%s/s | %s | %s (%s) | %s |\n", $1, $1 == 1 ? "" : "s", $3, $5, $4, $6 }' \
    "$results"
