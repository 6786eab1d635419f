# Shared by demo.sh, screenshot.sh and soak.sh: a work folder, the MUX simulator on a
# pseudo-terminal, and kestrel's own settings and line memory with COM1 open at start; all
# cleaned up on exit.
# Source it, then call session_start NAME.

session_start() { # NAME: makes $work and arranges the clean-up
    session_name=$1
    work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-$1.XXXXXX")
    sim_pid=""
    kestrel_pid=""
    session_pids=() # further processes of the session, ended with it
    trap session_cleanup EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
}

session_cleanup() {
    for pid in "$kestrel_pid" "$sim_pid" ${session_pids[@]+"${session_pids[@]}"}; do
        if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
            kill -TERM "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
        fi
    done
    rm -rf "$work"
}

# SIMULATOR [ARG]...: starts it in the background; sets $sim_pid and $pty, the line it prints
# first. Its standard error goes to $work/sim.err, or $work/$sim_name.err when sim_name is set
# (for a second simulator).
start_simulator() {
    local out=$work/${sim_name:-sim}
    "$@" >"$out.out" 2>"$out.err" &
    sim_pid=$!
    pty=""
    for _ in $(seq 100); do
        pty=$(head -n 1 "$out.out" 2>/dev/null || true)
        [ -n "$pty" ] && return 0
        sleep 0.1
    done
    echo "$session_name: the MUX simulator did not start:" >&2
    cat "$out.err" >&2
    exit 1
}

# Settings of the session's own in $work/settings: COM1, open at start. The line memory of the
# simulated MUX goes into $work too, never into the user's own COM1 database.
write_settings() {
    export XDG_DATA_HOME=$work/data
    mkdir -p "$work/settings/Verdanne Ltd."
    printf '[Settings]\nActivePort=1\nPortOpen=1\n' >"$work/settings/Verdanne Ltd./Kestrel.conf"
}
