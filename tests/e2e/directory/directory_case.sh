#!/usr/bin/env bash
# The whole program fetching its station list under Wine, driven from outside
# by driver.exe, against the directory server on the program's built-in port.
#
# usage: directory_case.sh CASE WORK_DIR PROGRAM DRIVER
#   CASE: listed   server up: every served station in file order, row 0 selected
#         retry    server down: box 5060, then 5061; "Yes" once it is back lists them
#         give-up  server down: box 5060, then 5061; "No" ends the program
set -euo pipefail
case_name=$1 work=$2 program=$3 driver=$4
tag="e2e-directory-$case_name"
source "$(dirname "$0")/../e2e_common.sh"

failed_text='The station list could not be downloaded.\n\nPlease check your internet connection.'
retry_text='No stations could be loaded.\n\nDo you want to try again?'
readonly kYes=6 kNo=7

make_install
install_engine
start_dirserver

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
