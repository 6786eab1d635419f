#!/bin/sh
# Checks one part of the Debian package's files with the tools that will read them.
# Usage: check-packaging.sh unit|sysusers|changelog PACKAGING_DIR [VERSION]
#        check-packaging.sh unconfigured PACKAGING_DIR KESTREL_HEADLESS
# Exit status 77 means the tool is missing here and the check was skipped.
set -eu
check=$1
packaging=$2
unit=$packaging/systemd/kestrel-headless.service
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
need() { command -v "$1" >/dev/null || { echo "$1 missing: skipped"; exit 77; }; }

case $check in
unit)
    # The program may not be installed here, so a stand-in runs in its place. Verify
    # reports mistakes as warnings and still succeeds; any line naming the unit is one.
    need systemd-analyze
    sed 's|^ExecStart=/usr/bin/kestrel-headless |ExecStart=/bin/true |' "$unit" \
        >"$work/kestrel-headless.service"
    grep -q '^ExecStart=/bin/true --config ' "$work/kestrel-headless.service" ||
        fail "ExecStart does not run /usr/bin/kestrel-headless --config"
    systemd-analyze verify --man=no "$work/kestrel-headless.service" >"$work/out" 2>&1 || true
    cat "$work/out"
    ! grep -q "kestrel-headless.service" "$work/out" || fail "systemd-analyze verify objects"
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
