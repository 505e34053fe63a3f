#!/usr/bin/env bash
# One start-up case of the whole program under Wine, driven from outside by
# driver.exe. Assembles its own install folder (program, Mivo, lang/, an
# engine), starts the program, checks what it shows, and checks its exit code.
#
# usage: startup_case.sh CASE WORK_DIR PROGRAM DRIVER DOUBLES_DIR
#   DOUBLES_DIR: the stand-in engines (engine-2.3/, ...) and language library (no-menu/)
#   CASE: no-language | engine-2.3 | engine-2.5 | engine-2.4.17 | no-menu | no-audio |
#         close-box | menu-exit
set -euo pipefail
case_name=$1 work=$2 program=$3 driver=$4 doubles=$5
tag="e2e-startup-$case_name"   # unique in the image path: finds our windows only
source "$(dirname "$0")/../e2e_common.sh"

make_install
[ "$case_name" = no-language ] && rm -rf "$install/lang"
# A language library with texts but without menu 200.
[ "$case_name" = no-menu ] && cp "$doubles/no-menu/lang.dll" "$install/lang/1033.dll"
case $case_name in
engine-2.3 | engine-2.5 | engine-2.4.17 | no-audio) cp "$doubles/$case_name/bass.dll" "$install/" ;;
*) install_engine ;;
esac
# A normal start fetches the station list before the window shows, and reads
# the settings file, which is there before the program starts: values the
# store must read leniently and write back in its own format.
case $case_name in
close-box | menu-exit | engine-2.4.17)
    start_dirserver
    printf '[orvantis]\r\norvantis.ui.spectrum.show=1\r\norvantis.ui.spectrum.center=2\r\n'\
'orvantis.ui.spectrum.hide_on_hover=abc\r\norvantis.audio.vol=0.25xyz\r\n'\
'orvantis.audio.pan=left\r\norvantis.audio.mute_on_lock.fun=1\r\n' >"$install/orvantis.ini"
    ;;
esac

start_program

# A refused start: only the box, no other window, then the exit code.
refused() {
    local want_text=$1 want_rc=$2
    drv wait --process "$tag" --class '#32770' --caption Orvantis --timeout 20000 >/dev/null \
        || { fail "no box appeared"; return; }
    local windows
    windows=$(drv windows --process "$tag")
    [ "$(printf '%s\n' "$windows" | grep -c .)" = 1 ] \
        || fail "expected the box alone, saw:"$'\n'"$windows"
    local box
    box=$(drv box --process "$tag" --timeout 5000) || { fail "could not answer the box"; return; }
    [ "$(sed -n 1p <<<"$box")" = Orvantis ] || fail "box caption: $(sed -n 1p <<<"$box")"
    [ "$(sed -n 2p <<<"$box")" = "$want_text" ] || fail "box text: $(sed -n 2p <<<"$box")"
    wait_for_exit
    [ "$rc" = "$want_rc" ] || fail "exit code $rc, expected $want_rc"
}

# A normal start: the main window alone; quitting saves the options, exit code 1.
normal() {
    local how=$1
    local main
    main=$(drv wait --process "$tag" --caption "$ORVANTIS_CAPTION" --timeout 20000) \
        || { fail "the main window did not appear"; drv windows --process "$tag" >&2; return; }
    local windows
    windows=$(drv windows --process "$tag")
    [ "$(printf '%s\n' "$windows" | grep -c .)" = 1 ] \
        || fail "expected the main window alone, saw:"$'\n'"$windows"
    local texts
    texts=$(drv texts "$main")
    for want in $'3010\tButton\tStation' $'3011\tStatic\tName:' $'3013\tStatic\tTitle:' \
        $'3015\tStatic\tBit rate:' $'3018\tStatic\tVolume:' $'3021\tStatic\tBalance:' \
        $'3012\tStatic\t' $'3004\tListBox\t'; do
        grep -qxF "$want" <<<"$texts" || fail "control text missing: $want"
    done
    case $how in
    close) drv close "$main" ;;
    menu) drv command "$main" 4000 ;;
    esac
    drv wait-gone "$main" --timeout 10000 || fail "the main window stayed"
    wait_for_exit
    [ "$rc" = 1 ] || fail "exit code $rc, expected 1"
    local ini
    ini=$(tr -d '\r' <"$install/orvantis.ini")
    local expected="[orvantis]
orvantis.ui.spectrum.show=1
orvantis.ui.spectrum.center=0
orvantis.ui.spectrum.hide_on_hover=0
orvantis.audio.vol=0.250000
orvantis.audio.pan=0.000000
orvantis.audio.mute_on_lock.fun=1
orvantis.audio.mute_on_lock=0"
    [ "$ini" = "$expected" ] || fail "settings file after quitting:"$'\n'"$ini"
}

case $case_name in
no-language) refused 'LANGUAGE NOT FOUND!\nPlease re-install the program\n\nAbort' 0 ;;
engine-2.3 | engine-2.5) refused 'Wrong version: BASS.DLL\n\nAbort' 0 ;;
no-menu)
    # The main window gives up before it has loaded the settings: nothing is saved.
    refused "CAN'T SET MENU!\n\nAbort" 1
    [ ! -e "$install/orvantis.ini" ] || fail "settings were written"
    ;;
no-audio)
    # Given up after the settings were loaded: the shutdown still saves them.
    refused 'The audio output could not be started.\n\nPlease check your sound device.' 1
    [ "$(grep -c '^orvantis\.' "$install/orvantis.ini" 2>/dev/null)" = 7 ] \
        || fail "settings not saved on the way out"
    ;;
close-box) normal close ;;
# Any revision and build of 2.4 passes the version check.
engine-2.4.17) normal close ;;
menu-exit) normal menu ;;
*) echo "unknown case $case_name" >&2; exit 2 ;;
esac

if ((failures)); then exit 1; fi
echo "$case_name: ok"
