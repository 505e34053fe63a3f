#!/usr/bin/env bash
# Runs a command beside the engine's test servers:
#   with_servers.sh [--icecast [--relay]] [--capture | --paced-capture] [--hosts] [--https]
#                   [--stuck-names] [--hls] -- COMMAND...
# Starts the misbehaving radio server (ORVANTIS_RADIO_PORT, its request log in
# ORVANTIS_RADIO_LOG) and, with --icecast, a private Icecast with its AAC
# mount (ORVANTIS_ICECAST_PORT). --relay adds the stepped signal's mount and
# puts cut_relay.py in front of Icecast (ORVANTIS_RELAY_PORT; it logs into
# ORVANTIS_RADIO_LOG). --capture routes ALSA's default device into a WAV
# file (ORVANTIS_CAPTURE) through the file plugin. --paced-capture does the
# same through paced_sink.py, which reads the device at the real-time rate
# like a sound card and stops reading while the file ORVANTIS_CAPTURE_PAUSE
# exists. --hosts makes the name radio.test resolve to ::1 first, then
# 127.0.0.1 (nss_wrapper). --https puts tls_radio.py in front of the radio
# server: ORVANTIS_TLS_<NAME>_PORT for each of its servers (GOOD, EXPIRED,
# WRONG_HOST, ...: see there), and ORVANTIS_TEST_CA, the test root a client
# must trust (DER). --stuck-names preloads stuck_resolver.c: names under
# .stuck.test resolve to 127.0.0.1, and while the file ORVANTIS_STUCK_HOLD
# exists their lookups wait as for a DNS server that never answers (each
# wait logged as "EVENT resolving <name>" in ORVANTIS_RADIO_LOG). --hls
# starts hls_server.py (ORVANTIS_HLS_PORT), which logs its requests into
# ORVANTIS_RADIO_LOG as well.
# Everything started here is
# stopped when the command ends; its exit code is returned.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
icecast=0
relay=0
capture=0
paced=0
hosts=0
https=0
stuck=0
hls=0
while [ $# -gt 0 ]; do
    case "$1" in
    --icecast) icecast=1 ;;
    --relay) relay=1 ;;
    --capture) capture=1 ;;
    --paced-capture) paced=1 ;;
    --hosts) hosts=1 ;;
    --https) https=1 ;;
    --stuck-names) stuck=1 ;;
    --hls) hls=1 ;;
    --) shift; break ;;
    *) echo "with_servers: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done

work=$(mktemp -d /tmp/engine-servers.XXXXXX)
pids=()
cleanup() {
    exec 7>&- 8>&- 9>&- 2>/dev/null || true
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

# wait_line FILE PATTERN NAME: polls FILE until a line matches PATTERN.
wait_line() {
    local i
    for i in $(seq 1 600); do
        grep -q "$2" "$1" 2>/dev/null && return 0
        sleep 0.05
    done
    echo "with_servers: $3 did not start:" >&2
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

if [ "$hls" = 1 ]; then
    python3 "$here/hls_server.py" --media "$media" --log "$work/radio.log" >"$work/hls.out" 2>&1 &
    pids+=($!)
    ORVANTIS_HLS_PORT=$(wait_port "$work/hls.out" "the HLS server")
    export ORVANTIS_HLS_PORT
fi

if [ "$icecast" = 1 ]; then
    # The harness runs until this pipe closes, also if we are killed.
    mkfifo "$work/icecast.hold"
    harness_options=(--aac --media "$media")
    [ "$relay" = 1 ] && harness_options+=(--steps)
    python3 "$here/icecast_harness.py" "${harness_options[@]}" <"$work/icecast.hold" \
        >"$work/icecast.out" 2>&1 &
    pids+=($!)
    exec 9>"$work/icecast.hold"
    ORVANTIS_ICECAST_PORT=$(wait_port "$work/icecast.out" "Icecast")
    export ORVANTIS_ICECAST_PORT
    if [ "$relay" = 1 ]; then
        # Runs until the Icecast pipe closes, as the harness does.
        python3 "$here/cut_relay.py" --upstream "$ORVANTIS_ICECAST_PORT" --log "$ORVANTIS_RADIO_LOG" \
            <"$work/icecast.hold" >"$work/relay.out" 2>&1 &
        pids+=($!)
        ORVANTIS_RELAY_PORT=$(wait_port "$work/relay.out" "the relay")
        export ORVANTIS_RELAY_PORT
    fi
fi

if [ "$https" = 1 ]; then
    mkfifo "$work/tls.hold"
    python3 "$here/tls_radio.py" --upstream "$ORVANTIS_RADIO_PORT" --dir "$work/tls" \
        <"$work/tls.hold" >"$work/tls.out" 2>&1 &
    pids+=($!)
    exec 7>"$work/tls.hold"
    wait_line "$work/tls.out" '^READY' "the TLS front"
    while read -r kind name port; do
        [ "$kind" = TLS ] || continue
        name=$(tr 'a-z-' 'A-Z_' <<<"$name")
        export "ORVANTIS_TLS_${name}_PORT=$port"
    done <"$work/tls.out"
    ORVANTIS_TEST_CA=$(awk '/^CA /{print $2; exit}' "$work/tls.out")
    export ORVANTIS_TEST_CA
fi

if [ "$capture" = 1 ]; then
    # shellcheck source=../../scripts/lib/alsa.sh
    . "$here/../../scripts/lib/alsa.sh"
    alsa_route_to_file "$work" "$work/capture.wav"
    export ORVANTIS_CAPTURE=$work/capture.wav
fi

if [ "$paced" = 1 ]; then
    mkfifo "$work/sink.hold"
    python3 "$here/paced_sink.py" --dir "$work/sink" --wav "$work/capture.wav" \
        --pause-file "$work/capture.pause" <"$work/sink.hold" >"$work/sink.out" 2>&1 &
    pids+=($!)
    exec 8>"$work/sink.hold"
    wait_line "$work/sink.out" '^ALSA_CONFIG_PATH ' "the paced sink"
    ALSA_CONFIG_PATH=$(awk '/^ALSA_CONFIG_PATH /{print $2; exit}' "$work/sink.out")
    [ -n "$ALSA_CONFIG_PATH" ] || { echo "with_servers: the paced sink did not start" >&2; exit 1; }
    export ALSA_CONFIG_PATH ORVANTIS_CAPTURE=$work/capture.wav
    export ORVANTIS_CAPTURE_PAUSE=$work/capture.pause
fi

if [ "$hosts" = 1 ]; then
    printf '::1 radio.test\n127.0.0.1 radio.test\n' >"$work/hosts"
    export LD_PRELOAD=libnss_wrapper.so${LD_PRELOAD:+:$LD_PRELOAD} NSS_WRAPPER_HOSTS=$work/hosts
fi

if [ "$stuck" = 1 ]; then
    # One build per word size, where the dynamic loader's $LIB finds it: the
    # 32-bit Wine loads the i386 one, the 64-bit Wine the x86-64 one.
    for word in 64 32; do
        triple=x86_64-linux-gnu
        [ "$word" = 32 ] && triple=i386-linux-gnu
        mkdir -p "$work/lib/$triple"
        cc -m"$word" -shared -fPIC -O2 -Wall -Wextra -Werror \
            -o "$work/lib/$triple/stuck_resolver.so" "$here/stuck_resolver.c" -ldl -lpthread || {
            echo "with_servers: stuck_resolver.c does not build with cc -m$word (scripts/setup installs gcc-multilib)" >&2
            exit 1
        }
    done
    export ORVANTIS_STUCK_HOLD=$work/resolver.hold ORVANTIS_STUCK_LOG=$work/radio.log
    # Ahead of nss_wrapper, which then resolves every other name.
    export LD_PRELOAD="$work/\$LIB/stuck_resolver.so${LD_PRELOAD:+:$LD_PRELOAD}"
fi

set +e
"$@"
rc=$?
set -e
exit $rc
