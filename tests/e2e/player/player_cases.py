#!/usr/bin/env python3
"""The whole program playing: driven from outside by tools/driver, against
the local Icecast and the misbehaving radio, its sound captured and measured.
Run one case: player_cases.py CASE (CTest runs each as e2e.player.CASE)."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lib"))
import orvantis_e2e as e2e  # noqa: E402
from orvantis_e2e import IDC_BITRATE, IDC_NAME, IDC_PLAY, IDC_TITLE  # noqa: E402

TONE_HZ = 440
# A settings file that plays at 80 % and centred.
LOUD = {"orvantis.audio.vol": "0.800000", "orvantis.audio.pan": "0.000000"}


def double_click_plays_and_the_button_stops(check):
    stations = [("Icecast tone", "icecast:/tone.mp3"), ("Radio tone", "radio:/stream.mp3")]
    with e2e.Session("double-click", stations, icecast=True, ini=LOUD) as s:
        s.double_click(0)
        e2e.wait_until(lambda: s.text(IDC_BITRATE) == "128 KBit/s", "the bit rate")
        check.equal(s.text(IDC_NAME), "Orvantis Test Radio", "station name")
        title = e2e.wait_until(lambda: s.text(IDC_TITLE), "a title")
        check.expect(title.startswith("Tone "), f"title {title!r}")
        played_from = s.program.capture().seconds()
        e2e.wait_until(lambda: s.program.capture().seconds() > played_from + 3.0,
                       "three seconds of sound")
        s.driver.call("click", s.main, IDC_PLAY)
        for control in (IDC_NAME, IDC_TITLE, IDC_BITRATE):
            e2e.wait_until(lambda c=control: s.text(c) == "", f"field {control} emptied")
        sound = s.program.capture()
        checks = e2e.capture.Checks()
        e2e.capture.check_tone(sound, TONE_HZ, checks)
        check.expect(checks.failures == 0, f"the captured sound holds {TONE_HZ} Hz in both channels")


CASES = {
    "double-click": double_click_plays_and_the_button_stops,
}

if __name__ == "__main__":
    sys.exit(e2e.run_cases(CASES))
