#!/usr/bin/env bash
# Runs a command beside the engine's test servers:
#   with_servers.sh [--icecast] [--capture] -- COMMAND...
# Starts the misbehaving radio server (ORVANTIS_RADIO_PORT, its request log in
# ORVANTIS_RADIO_LOG) and, with --icecast, a private Icecast
# (ORVANTIS_ICECAST_PORT). --capture routes ALSA's default device into a WAV
# file (ORVANTIS_CAPTURE) through the file plugin. Everything started here is
# stopped when the command ends; its exit code is returned.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
icecast=0
capture=0
while [ $# -gt 0 ]; do
    case "$1" in
    --icecast) icecast=1 ;;
    --capture) capture=1 ;;
    --) shift; break ;;
    *) echo "with_servers: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done

work=$(mktemp -d /tmp/engine-servers.XXXXXX)
pids=()
cleanup() {
    exec 8>&- 9>&- 2>/dev/null || true
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# wait_port FILE NAME: polls FILE for the "PORT n" line a server prints.
wait_port() {
    local i
    for i in $(seq 1 600); do
        if grep -q '^PORT ' "$1" 2>/dev/null; then
            awk '/^PORT /{print $2; exit}' "$1"
            return 0
        fi
        sleep 0.05
    done
    echo "with_servers: $2 did not start:" >&2
    cat "$1" >&2
    return 1
}

media=${ORVANTIS_TEST_MEDIA:-$work/media}
mkdir -p "$media"
: >"$work/radio.log"
python3 "$here/radio_server.py" --media "$media" --log "$work/radio.log" >"$work/radio.out" 2>&1 &
pids+=($!)
ORVANTIS_RADIO_PORT=$(wait_port "$work/radio.out" "the radio server")
export ORVANTIS_RADIO_PORT ORVANTIS_RADIO_LOG=$work/radio.log

if [ "$icecast" = 1 ]; then
    # The harness runs until this pipe closes, also if we are killed.
    mkfifo "$work/icecast.hold"
    python3 "$here/icecast_harness.py" <"$work/icecast.hold" >"$work/icecast.out" 2>&1 &
    pids+=($!)
    exec 9>"$work/icecast.hold"
    ORVANTIS_ICECAST_PORT=$(wait_port "$work/icecast.out" "Icecast")
    export ORVANTIS_ICECAST_PORT
fi

if [ "$capture" = 1 ]; then
    # shellcheck source=../../scripts/lib/alsa.sh
    . "$here/../../scripts/lib/alsa.sh"
    alsa_route_to_file "$work" "$work/capture.wav"
    export ORVANTIS_CAPTURE=$work/capture.wav
fi

set +e
"$@"
rc=$?
set -e
exit $rc
