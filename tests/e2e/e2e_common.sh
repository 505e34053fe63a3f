# Sourced by the whole-program test scripts: an install folder of their own,
# the driver, the program's exit code, and the station directory server.
#
# Expects: $work (folder for installs), $program, $driver, $tag (unique name:
# the driver finds this test's windows by it, or by $process when set) and
# ORVANTIS_DIST.

e2e_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
wine_exec=$e2e_root/scripts/wine-exec
: "${ORVANTIS_DIST:?ORVANTIS_DIST names the installed layout}"
# The main window's title: "Orvantis v" and the program's version.
: "${ORVANTIS_CAPTION:?ORVANTIS_CAPTION names the main window title}"

# The program opens the default audio device at start: give it one that
# writes into a file of the test's own (this machine has no sound card).
# shellcheck source=../../scripts/lib/alsa.sh
. "$e2e_root/scripts/lib/alsa.sh"
alsa_route_to_file "$work/alsa-$tag" "$work/alsa-$tag/played.wav"

process=${process:-$tag}
# What the directory server serves, and the main window's caption.
served=$e2e_root/www/dwl/programs/orvantis/channels.xml
main_caption=$ORVANTIS_CAPTION

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# The driver answers 0 (done), 1 (not found) or 2 (bad usage) and says why on
# stderr. Any other code means it ended before answering, without a word (a
# whole run saw that once, on a message box that was there): it is asked once
# more, and the note says so.
drv() {
    local out rc=0
    out=$("$wine_exec" "$driver" "$@" | tr -d '\r') || rc=$?
    if ((rc > 2)); then
        echo "note: the driver ended with code $rc on '$*' without answering; asking again" >&2
        rc=0
        out=$("$wine_exec" "$driver" "$@" | tr -d '\r') || rc=$?
    fi
    [ -z "$out" ] || printf '%s\n' "$out"
    return "$rc"
}

# Program, Mivo and lang/ in $install; the engine is added by the caller.
make_install() {
    install=$work/$tag
    rm -rf "$install"
    mkdir -p "$install"
    cp "$program" "$ORVANTIS_DIST"/Mivo"${ORVANTIS_BITS:?ORVANTIS_BITS names the architecture}".dll "$install/"
    cp -r "$ORVANTIS_DIST/lang" "$install/lang"
    exe=$install/$(basename "$program")
}

# The real engine: a whole-program test never runs on a stand-in.
install_engine() {
    [ -f "$ORVANTIS_DIST/bass.dll" ] || { echo "the engine $ORVANTIS_DIST/bass.dll is not built" >&2; exit 1; }
    cp "$ORVANTIS_DIST/bass.dll" "$install/"
}

pid=
server=
server_out=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    if [ -n "$server" ]; then
        kill "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
    fi
    [ -n "$server_out" ] && rm -f "$server_out"
    return 0
}
trap cleanup EXIT

start_program() {
    "$wine_exec" "$exe" &
    pid=$!
}

# Waits (polling) for the program to end and sets rc to its exit code. Not
# in a subshell: only this shell can collect its child's status.
wait_for_exit() {
    local deadline=$((SECONDS + 30))
    while kill -0 "$pid" 2>/dev/null; do
        if ((SECONDS >= deadline)); then rc=timeout; return; fi
        sleep 0.05
    done
    rc=0
    wait "$pid" || rc=$?
    pid=
}

# Serves www/ on a free port, with a control port for /down and /up
# (control_server), and names its address to the program started after it
# (a test build takes the directory's address from ORVANTIS_DIRECTORY_URL).
start_dirserver() {
    server_out=$(mktemp)
    python3 "$e2e_root/tools/dirserver/dirserver.py" --port 0 --control-port 0 \
        >"$server_out" 2>&1 &
    server=$!
    local deadline=$((SECONDS + 10))
    until grep -q '^control ' "$server_out"; do
        if ! kill -0 "$server" 2>/dev/null || ((SECONDS >= deadline)); then
            echo "directory server did not start:" >&2
            cat "$server_out" >&2
            exit 1
        fi
        sleep 0.05
    done
    control_port=$(awk '/^control /{print $2}' "$server_out")
    export ORVANTIS_DIRECTORY_URL="http://127.0.0.1:$(awk '/^port /{print $2}' "$server_out")/dwl/programs/orvantis/channels.xml"
}

control_server() {
    local answer
    answer=$(python3 -c 'import sys, urllib.request
print(urllib.request.urlopen(sys.argv[1], timeout=5).read().decode().strip())' \
        "http://127.0.0.1:$control_port$1") || true
    [ "$answer" = ok ] || fail "server command $1 answered: $answer"
}

# expected_rows FILE: the rows a station file should give, as driver rows
# prints them: the station's id, its server count (at most 32) and its name,
# in file order.
expected_rows() {
    python3 - "$1" <<'PY'
import sys
import xml.etree.ElementTree as tree

def first_value(element):
    if element is None or not element.attrib:
        return ""
    return next(iter(element.attrib.values()))

def escape(text):
    return (text.replace("\\", "\\\\").replace("\n", "\\n")
            .replace("\r", "\\r").replace("\t", "\\t"))

stations = tree.parse(sys.argv[1]).getroot().find("stationlist")
print("count %d" % len(stations))
print("selected 0")
for row, station in enumerate(stations):
    ids = station.findall("id")
    names = station.findall("name")
    lists = station.findall("serverlist")
    servers = len(list(lists[-1])) if lists else 0
    print("%d\t%s\t%d\t%s" % (row, first_value(ids[-1]) if ids else "0", min(servers, 32),
                              escape(first_value(names[-1]) if names else "")))
PY
}

# The main window shows the whole served list, first row selected, and the
# program kept the file as $install/channels.xml; closing it ends the program
# with exit code 1.
check_list() {
    local main
    main=$(drv wait --process "$process" --caption "$main_caption" --class '#32770' --timeout 30000) \
        || { fail "the main window did not appear"; drv windows --process "$process" >&2; return 1; }
    local windows
    windows=$(drv windows --process "$process")
    [ "$(printf '%s\n' "$windows" | grep -c .)" = 1 ] \
        || fail "expected the main window alone, saw:"$'\n'"$windows"
    local want got
    want=$(expected_rows "$served")
    got=$(drv rows "$main" 3004) || fail "could not read the station list"
    [ "$(sed -n 1p <<<"$want")" != "count 0" ] || fail "the served file lists no station"
    [ "$got" = "$want" ] || fail "station list differs from the served file:"$'\n'"$(diff \
        <(printf '%s\n' "$want") <(printf '%s\n' "$got") | head -n 20)"
    cmp -s "$served" "$install/channels.xml" || fail "channels.xml is not the served file"
    drv close "$main"
    drv wait-gone "$main" --timeout 10000 || fail "the main window stayed"
    wait_for_exit
    [ "$rc" = 1 ] || fail "exit code $rc, expected 1"
}
