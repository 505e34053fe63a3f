#!/usr/bin/env bash
# The whole program fetching its station list under Wine, driven from outside
# by driver.exe, against the directory server on the program's built-in port.
#
# usage: directory_case.sh CASE WORK_DIR PROGRAM DRIVER STAND_IN_ENGINE
#   CASE: listed   server up: every served station in file order, row 0 selected
#         retry    server down: box 5060, then 5061; "Yes" once it is back lists them
#         give-up  server down: box 5060, then 5061; "No" ends the program
set -euo pipefail
case_name=$1 work=$2 program=$3 driver=$4 stand_in=$5
tag="e2e-directory-$case_name"
source "$(dirname "$0")/../e2e_common.sh"

served=$e2e_root/www/dwl/programs/orvantis/channels.xml
main_caption=$ORVANTIS_CAPTION
failed_text='The station list could not be downloaded.\n\nPlease check your internet connection.'
retry_text='No stations could be loaded.\n\nDo you want to try again?'
readonly kYes=6 kNo=7

make_install
install_engine "$stand_in"
start_dirserver

# The rows the served file should give, as driver rows prints them: the
# station's id, its server count (at most 32) and its name, in file order.
expected_rows() {
    python3 - "$served" <<'PY'
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

# The main window shows the whole served list, first row selected.
check_list() {
    local main
    main=$(drv wait --process "$tag" --caption "$main_caption" --class '#32770' --timeout 30000) \
        || { fail "the main window did not appear"; drv windows --process "$tag" >&2; return 1; }
    local windows
    windows=$(drv windows --process "$tag")
    [ "$(printf '%s\n' "$windows" | grep -c .)" = 1 ] \
        || fail "expected the main window alone, saw:"$'\n'"$windows"
    local want got
    want=$(expected_rows)
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

# With the server down: the download's box (versioned caption), then the
# question (plain caption) with no other window left. Leaves the question open.
failed_download() {
    local box
    box=$(drv box --process "$tag" --caption "$main_caption" --timeout 30000) \
        || { fail "no download failure box"; return 1; }
    [ "$(sed -n 2p <<<"$box")" = "$failed_text" ] || fail "first box: $box"
    drv wait --process "$tag" --caption Orvantis --class '#32770' --timeout 20000 >/dev/null \
        || { fail "no question after the failed download"; return 1; }
    local windows
    windows=$(drv windows --process "$tag")
    [ "$(printf '%s\n' "$windows" | grep -c .)" = 1 ] \
        || fail "expected the question alone, saw:"$'\n'"$windows"
}

answer_question() {
    local box
    box=$(drv box --process "$tag" --caption Orvantis --answer "$1" --timeout 5000) \
        || { fail "could not answer the question"; return 1; }
    [ "$(sed -n 2p <<<"$box")" = "$retry_text" ] || fail "question: $box"
}

case $case_name in
listed)
    start_program
    check_list || true
    ;;
retry)
    control_server /down
    start_program
    if failed_download; then
        control_server /up
        answer_question $kYes && check_list || true
    fi
    ;;
give-up)
    control_server /down
    start_program
    if failed_download && answer_question $kNo; then
        wait_for_exit
        # Refusing ends the dialog like any close: the shutdown runs, saves
        # the settings, and the dialog's result is the exit code.
        [ "$rc" = 1 ] || fail "exit code $rc, expected 1"
        [ "$(grep -c '^orvantis\.' "$install/orvantis.ini" 2>/dev/null)" = 7 ] \
            || fail "settings not saved on the way out"
        # Nothing was received, so nothing was written.
        [ ! -e "$install/channels.xml" ] || fail "channels.xml written"
    fi
    ;;
*) echo "unknown case $case_name" >&2; exit 2 ;;
esac

if ((failures)); then exit 1; fi
echo "$case_name: ok"
