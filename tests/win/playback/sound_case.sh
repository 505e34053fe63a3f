#!/usr/bin/env bash
# Plays a tone station through the player on the captured default device,
# then checks the capture: the tone in both channels, silent at first, at the
# set volume after about a second. Run by with_servers.sh --paced-capture,
# which takes the sound at the pace of a sound card.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
: "${ORVANTIS_CAPTURE:?run through with_servers.sh --paced-capture}"
"$root/scripts/wine-exec" "$1" --gtest_filter='PlayerSound.*'
python3 "$root/tools/audio/capture.py" fade-in "$ORVANTIS_CAPTURE" --hz 440 --level 0.4
