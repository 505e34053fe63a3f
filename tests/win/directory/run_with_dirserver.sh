#!/usr/bin/env bash
# Runs a Windows test program under Wine with a directory server of its own,
# serving tests/fixtures/directory: the server takes free ports and the
# program finds them in ORVANTIS_DIRSERVER_PORT and ORVANTIS_DIRSERVER_CONTROL.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
out=$(mktemp)
python3 "$root/tools/dirserver/dirserver.py" --root "$root/tests/fixtures/directory" --port 0 \
    --control-port 0 --drip-delay 0.002 >"$out" &
server=$!
stop() { kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; rm -f "$out"; }
trap stop EXIT
for _ in $(seq 1 200); do
    grep -q '^control ' "$out" && break
    kill -0 "$server" 2>/dev/null || { echo "directory server did not start" >&2; exit 1; }
    sleep 0.05
done
ORVANTIS_DIRSERVER_PORT=$(awk '/^port /{print $2}' "$out")
ORVANTIS_DIRSERVER_CONTROL=$(awk '/^control /{print $2}' "$out")
[ -n "$ORVANTIS_DIRSERVER_CONTROL" ] || { echo "directory server reported no ports" >&2; exit 1; }
export ORVANTIS_DIRSERVER_PORT ORVANTIS_DIRSERVER_CONTROL
"$root/scripts/wine-exec" "$@"
