#!/usr/bin/env bash
# usage: run_smoke.sh [win64|win32]
# scripts/run without a display, as a newcomer would start it on a server:
# it finishes, its three pictures exist and differ, the sound it captured is
# not silence, and nothing it started is left running.
set -uo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
out=$root/out
log=$(mktemp)
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

rm -f "$out"/orvantis-*.png "$out"/orvantis-played.wav
env -u DISPLAY -u WINEARCH -u ORVANTIS_WINE ORVANTIS_RUN_PREBUILT=1 "$root/scripts/run" "$@" >"$log" 2>&1
rc=$?
cat "$log"
[ "$rc" = 0 ] || fail "scripts/run ended with $rc"

pictures=("$out/orvantis-idle.png" "$out/orvantis-playing.png" "$out/orvantis-spectrum.png")
for p in "${pictures[@]}"; do [ -s "$p" ] || fail "no picture $p"; done
for a in 0 1 2; do
    for b in 0 1 2; do
        ((a < b)) || continue
        cmp -s "${pictures[a]}" "${pictures[b]}" && fail "${pictures[a]} and ${pictures[b]} are the same"
    done
done
python3 "$root/tools/audio/capture.py" loud "$out/orvantis-played.wav" || fail "the captured sound is silent"

# Nothing it started is left: the prefix's Wine processes, the virtual
# display, the directory server, the demo radio and its Icecast and ezstream.
xvfb=$(sed -nE 's/.*\(Xvfb ([0-9]+)\).*/\1/p' "$log")
[ -n "$xvfb" ] || fail "the run named no virtual display"
if [ -n "$xvfb" ] && kill -0 "$xvfb" 2>/dev/null; then fail "Xvfb $xvfb still runs"; fi
for pid in $(ls /proc | grep -E '^[0-9]+$'); do
    cmdline=$( { tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null) || continue
    environ=$( { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null) || environ=
    case $cmdline in
    *"$out/run/www"*) fail "left running: $pid $cmdline" ;;
    *icecast2\ -c\ *|*ezstream\ -c\ *)
        config=$(sed -E 's/.* -c ([^ ]+).*/\1/' <<<"$cmdline")
        [ -e "$config" ] || fail "left running without its configuration: $pid $cmdline" ;;
    esac
    grep -qx "WINEPREFIX=$out/wineprefix\(-win32\)\?" <<<"$environ" && fail "Wine process left: $pid $cmdline"
done
rm -f "$log"
((failures == 0)) || exit 1
echo "scripts/run: ok"
