#!/bin/sh
# Checks one part of the Debian package's files with the tools that will read them.
# Usage: check-packaging.sh sysusers|changelog PACKAGING_DIR [VERSION]
#        check-packaging.sh unconfigured PACKAGING_DIR KESTREL_HEADLESS
#        check-packaging.sh install PACKAGING_DIR BUILD_DIR DOCUMENT...
# Exit status 77 means the tool is missing here and the check was skipped.
set -eu
check=$1
packaging=$2
unit=$packaging/systemd/kestrel-headless.service.in
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
need() { command -v "$1" >/dev/null || { echo "$1 missing: skipped"; exit 77; }; }

case $check in
install)
    # Installed twice from the build. Under a prefix of its own, everything lands below it and
    # the unit runs the program installed there, so systemd-analyze verify checks the unit as
    # installed, ExecStart included; verify reports mistakes as warnings and still succeeds,
    # and any line naming the unit is one. Under /usr, staged in DESTDIR, as the Debian package
    # has it: the unit in /lib/systemd/system, the configuration in /etc, and every installed
    # file the documents name (the alerts' runbook links included) where they say.
    need systemd-analyze
    build=$3
    shift 3
    prefix=$work/prefix
    cmake --install "$build" --prefix "$prefix" >/dev/null
    service=$prefix/lib/systemd/system/kestrel-headless.service
    [ -f "$service" ] || fail "no unit in $prefix/lib/systemd/system"
    exec_start="ExecStart=$prefix/bin/kestrel-headless --config"
    exec_start="$exec_start $prefix/etc/kestrel/kestrel-headless.conf --status-dir /run/kestrel"
    grep -qxF "$exec_start" "$service" || fail "the unit does not say $exec_start"
    [ -f "$prefix/etc/kestrel/kestrel-headless.conf" ] || fail "no configuration in $prefix/etc"
    systemd-analyze verify --man=no "$service" >"$work/out" 2>&1 || true
    cat "$work/out"
    ! grep -q "kestrel-headless.service" "$work/out" || fail "systemd-analyze verify objects"

    staged=$work/staged
    DESTDIR=$staged cmake --install "$build" --prefix /usr >/dev/null
    grep -qx 'ExecStart=/usr/bin/kestrel-headless --config /etc/kestrel/kestrel-headless.conf --status-dir /run/kestrel' \
        "$staged/lib/systemd/system/kestrel-headless.service" ||
        fail "no unit in /lib/systemd/system running /usr/bin/kestrel-headless"
    for example in kestrel-headless.conf metrics-web.yml prometheus.yml alertmanager.yml runbook.md; do
        [ -f "$staged/usr/share/doc/kestrel/examples/$example" ] ||
            fail "no /usr/share/doc/kestrel/examples/$example"
    done
    # Paths up to a space, quote, bracket, backslash (roff), '#' or '|', less a final '.'.
    named=$(grep -ohE '(/usr/share|/usr/bin|/etc/kestrel|/lib/systemd)[^] `)*,"'"'"'\\#|]*' "$@" |
            sed 's/[.]$//' | sort -u)
    [ -n "$named" ] || fail "the documents name no installed file"
    for path in $named; do
        [ -e "$staged$path" ] || fail "$path is named in the documents but not installed"
    done
    # The package's description names every program it installs.
    sed -n '/^set(CPACK_PACKAGE_DESCRIPTION "/,/")$/p' "$build/CPackConfig.cmake" >"$work/description"
    for program in "$staged"/usr/bin/*; do
        name=${program##*/}
        grep -qE "(^|[^[:alnum:]-])$name([^[:alnum:]-]|\$)" "$work/description" ||
            fail "the package description does not name $name"
    done
    ;;
sysusers)
    # The user the unit runs as is the one the package creates, and a system user.
    need systemd-sysusers
    mkdir "$work/etc"
    systemd-sysusers --root="$work" "$packaging/systemd/kestrel.sysusers"
    user=$(sed -n 's/^User=//p' "$unit")
    line=$(grep "^$user:" "$work/etc/passwd") || fail "no user $user is created"
    uid=$(echo "$line" | cut -d: -f3)
    [ "$uid" -lt 1000 ] || fail "$user is not a system user (uid $uid)"
    ;;
changelog)
    # The package's version is the program's and the newest changelog entry's.
    top=$(head -n1 "$packaging/debian/changelog")
    echo "$top" | grep -q "^kestrel ($3-[0-9][^)]*) " ||
        fail "newest changelog entry '$top' is not for version $3"
    ;;
unconfigured)
    # The configuration as shipped names no MUX: the service must refuse to start, with a
    # reason, and with the status that keeps systemd from restarting it over and over.
    status=0
    "$3" --config "$packaging/systemd/kestrel-headless.conf" >"$work/out" 2>&1 || status=$?
    cat "$work/out"
    [ "$status" -eq 2 ] || fail "exit status $status, expected 2"
    grep -q "kestrel-headless.conf" "$work/out" || fail "the message does not name the file"
    ;;
*)
    fail "unknown check $check"
    ;;
esac
