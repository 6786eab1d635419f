#!/bin/sh
# Checks every configuration the documentation shows with the program or tool that reads it.
#
# Usage: check-configurations.sh SOURCE_DIR KESTREL_HEADLESS SETTINGS_CHECK DOCUMENT...
# Exit status 77: promtool or amtool is missing here and nothing was checked.
#
# The rules, simple on purpose, so that whoever writes an example knows what happens to it:
# - Blocks: every fenced block of a Markdown document; every .nf to .fi block of a manual page,
#   its kind in a comment on the line before (.\" ini); a shipped .conf (ini) or .yml (yaml)
#   whole. Kinds sh and text are not read; any other kind, or none, fails: an example nobody
#   checks is an example that rots.
# - ini with [general] and [mux/NAME] only: `kestrel-headless --check --config` must accept it
#   silently (a block without a MUX gets [mux/docs-check] on /dev/null). A shipped file whose
#   groups are all commented out must be refused as it stands (status 2, one line) and accepted
#   with the lines where '#' is glued to a group or key uncommented.
# - ini with [Devices] only: the window's settings store must read every COMn=PATH as written.
# - yaml: a prometheus.yml (rule_files, scrape_configs) goes to promtool check config, an
#   alertmanager.yml (route, receivers) to amtool check-config, the metrics' web configuration
#   (tls_server_config, basic_auth_users) to kestrel-headless --check --metrics-web-config with
#   stand-in PEM files.
# - snmpd: an snmpd.conf fragment goes to a real snmpd (AgentX socket and state in this test's
#   folder, SNMP on a free port of the loopback), which must start and name no line of it in a
#   warning or an error.
# - Installed paths are taken into this test's folder (/var/lib/kestrel, /run/kestrel), or to
#   the source tree's packaging/ folder (/usr/share/kestrel).
set -u
source_dir=$1
headless=$2
settings_check=$3
shift 3
command -v promtool >/dev/null || { echo "promtool missing: skipped"; exit 77; }
command -v amtool >/dev/null || { echo "amtool missing: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/blocks"
failures=0
checked=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; checked=$((checked + 1)); }

# Writes each block of a document to its own file and a line "FILE KIND ORIGIN" to the index.
extract() {  # extract DOCUMENT NUMBER
    case $1 in
    *.md)
        awk -v out="$work/blocks/$2" -v doc="$1" '
            !open && /^ *```/ {
                indent = 0
                while (substr($0, indent + 1, 1) == " ") indent++
                kind = substr($0, indent + 4)
                if (kind == "") kind = "none"
                file = sprintf("%s-%d", out, ++n)
                printf "" > file
                print file, kind, doc ":" NR
                open = 1
                next
            }
            open && /^ *``` *$/ { open = 0; close(file); next }
            open { print substr($0, indent + 1) > file }
            END { if (open) print file, "unterminated", doc ":" NR }' "$1"
        ;;
    *.[1-9])
        # Roff's \- is the hyphen the reader sees; other escapes stay, and fail the check.
        awk -v out="$work/blocks/$2" -v doc="$1" -v q='"' '
            /^\.nf/ {
                kind = prev ~ ("^[.]\\\\" q " [a-z]+$") ? substr(prev, 5) : "none"
                file = sprintf("%s-%d", out, ++n)
                printf "" > file
                print file, kind, doc ":" NR
                open = 1
                next
            }
            open && /^\.fi/ { open = 0; close(file); next }
            open {
                line = $0
                gsub(/\\-/, "-", line)
                print line > file
            }
            { prev = $0 }
            END { if (open) print file, "unterminated", doc ":" NR }' "$1"
        ;;
    *.conf | *.yml)
        file="$work/blocks/shipped-$(basename "$1")"
        cp "$1" "$file"
        case $1 in *.conf) kind=ini ;; *) kind=yaml ;; esac
        echo "$file $kind $1 shipped"
        ;;
    *)
        echo "$1 unknown $1"
        ;;
    esac
}

# The groups of an INI block, one a line, without brackets.
groups() { sed -n 's/^[[:space:]]*\[\([^]]*\)\].*/\1/p' "$1"; }

# A headless configuration with the installed system's folders in this test's own.
relocate() {  # relocate BLOCK OUT
    rm -rf "$work/root"
    mkdir -p "$work/root/var/lib/kestrel" "$work/root/run/kestrel"
    sed -e "s|/var/lib/kestrel|$work/root/var/lib/kestrel|g" \
        -e "s|/run/kestrel|$work/root/run/kestrel|g" "$1" >"$2"
    if ! groups "$2" | grep -q '^mux/'; then
        printf '\n[mux/docs-check]\ndevice=/dev/null\n' >>"$2"
    fi
}

# --check must come back at once: a monitor that started would never end by itself.
headless_check() {  # headless_check CONFIG; prints what it said, returns its status
    timeout 10 "$headless" --check --config "$1" 2>&1
}

check_headless() {  # check_headless BLOCK ORIGIN [shipped]
    if [ "${3:-}" = shipped ] && [ -z "$(groups "$1")" ]; then
        said=$(headless_check "$1")
        status=$?
        lines=0
        [ -z "$said" ] || lines=$(printf '%s\n' "$said" | wc -l)
        if [ $status -ne 2 ] || [ "$lines" -ne 1 ]; then
            fail "$2: as shipped, kestrel-headless --check gave status $status and $lines lines" \
                 "(expected 2 and one line): $said"
        else
            ok "$2 refused as shipped: $said"
        fi
        sed 's/^#\([[a-zA-Z]\)/\1/' "$1" >"$work/uncommented"
        if [ -z "$(groups "$work/uncommented")" ]; then
            fail "$2: no commented example ('#[mux/NAME]', '#device=...') to check"
            return
        fi
        set -- "$work/uncommented" "$2 (example uncommented)"
    fi
    relocate "$1" "$work/config.ini"
    said=$(headless_check "$work/config.ini")
    status=$?
    if [ $status -ne 0 ] || [ -n "$said" ]; then
        fail "$2: kestrel-headless --check: status $status: $said"
    else
        ok "$2 kestrel-headless --check"
    fi
}

check_settings() {  # check_settings BLOCK ORIGIN
    expected=$(grep -v -e '^[[:space:]]*$' -e '^[[:space:]]*[[#;]' "$1" |
               sed 's/^[[:space:]]*//; s/[[:space:]]*=[[:space:]]*/=/' | sort)
    if ! read_back=$("$settings_check" "$1" 2>&1); then
        fail "$2: $read_back"
        return
    fi
    read_back=$(printf '%s\n' "$read_back" | sort)
    if [ -z "$expected" ] || [ "$expected" != "$read_back" ]; then
        fail "$2: the settings store reads '$read_back' where the block says '$expected'"
    else
        ok "$2 window settings read back"
    fi
}

check_yaml() {  # check_yaml BLOCK ORIGIN
    top=$(sed -n 's/^\([a-z_]*\):.*/\1/p' "$1")
    sed "s|/usr/share/kestrel/|$source_dir/packaging/|g" "$1" >"$work/config.yml"
    if printf '%s\n' "$top" | grep -qx -e rule_files -e scrape_configs; then
        tool="promtool check config"
    elif printf '%s\n' "$top" | grep -qx -e route -e receivers; then
        tool="amtool check-config"
    elif printf '%s\n' "$top" | grep -qx -e tls_server_config -e basic_auth_users; then
        mkdir -p "$work/etc/kestrel"
        sed "s|/etc/kestrel/|$work/etc/kestrel/|g" "$1" >"$work/web.yml"
        for pem in $(sed -n 's/^ *\(cert\|key\)_file: *\([^ ]*\).*/\2/p' "$work/web.yml"); do
            case $pem in /*) ;; *) pem="$work/$pem" ;; esac
            printf -- '-----BEGIN STAND-IN-----\n' >"$pem"
        done
        if said=$("$headless" --check --metrics 0 --metrics-web-config "$work/web.yml" \
                  --device /dev/null 2>&1) && [ -z "$said" ]; then
            ok "$2 kestrel-headless --check --metrics-web-config"
        else
            fail "$2: kestrel-headless --metrics-web-config: $said"
        fi
        return
    else
        fail "$2: YAML that is neither a prometheus.yml nor an alertmanager.yml"
        return
    fi
    # shellcheck disable=SC2086  # the tool's name and its subcommand
    if said=$($tool "$work/config.yml" 2>&1); then
        ok "$2 $tool"
    else
        fail "$2: $tool: $said"
    fi
}

check_snmpd() {  # check_snmpd BLOCK ORIGIN
    if ! command -v snmpd >/dev/null; then
        fail "$2: snmpd (Debian package snmpd) is not installed"
        return
    fi
    rm -rf "$work/snmpd"
    mkdir -p "$work/snmpd/persist"
    sed "s|/var/agentx|$work/snmpd/agentx|g" "$1" >"$work/snmpd/snmpd.conf"
    # Without agentXSocket the master listens at /var/agentx/master, here in the test's folder.
    grep -q '^agentXSocket' "$1" ||
        echo "agentXSocket $work/snmpd/agentx/master" >>"$work/snmpd/snmpd.conf"
    port=$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    SNMP_PERSISTENT_DIR="$work/snmpd/persist" snmpd -f -C -c "$work/snmpd/snmpd.conf" -m "" \
        -I -smux -Lf "$work/snmpd/log" "udp:127.0.0.1:$port" >/dev/null 2>&1 &
    pid=$!
    socket=$(sed -n 's/^agentXSocket[[:space:]]*//p' "$work/snmpd/snmpd.conf")
    tries=0
    while [ $tries -lt 50 ] && ! [ -S "$socket" ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    listening=no
    [ -S "$socket" ] && listening=yes
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    said=$(grep -e ': Warning:' -e ': Error:' "$work/snmpd/log")
    if [ -n "$said" ] || [ $listening = no ]; then
        fail "$2: snmpd: ${said:-no AgentX master socket}"
    else
        ok "$2 snmpd"
    fi
}

number=0
for document in "$@"; do
    number=$((number + 1))
    extract "$document" $number
done >"$work/index"

while read -r block kind origin shipped <&3; do
    case $kind in
    sh | text) ;;
    ini)
        all=$(groups "$block")
        if [ -z "$all" ] && [ "$shipped" = shipped ] ||
           { [ -n "$all" ] && ! printf '%s\n' "$all" | grep -qv -e '^general$' -e '^mux/'; }; then
            check_headless "$block" "$origin" "$shipped"
        elif [ "$all" = Devices ]; then
            check_settings "$block" "$origin"
        else
            fail "$origin: INI that is neither a kestrel-headless configuration nor the" \
                 "window's [Devices] settings (groups: $(printf '%s ' "$all" | tr '\n' ' '))"
        fi
        ;;
    yaml) check_yaml "$block" "$origin" ;;
    snmpd) check_snmpd "$block" "$origin" ;;
    *) fail "$origin: a block of kind '$kind': say sh, text, ini, yaml or snmpd" ;;
    esac
done 3<"$work/index"

if [ $checked -eq 0 ]; then
    fail "no configuration found in $*"
fi
echo "$checked configurations checked, $failures failures"
[ $failures -eq 0 ]
