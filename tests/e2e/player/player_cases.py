#!/usr/bin/env python3
"""The whole program playing: driven from outside by tools/driver, against
the local Icecast and the misbehaving radio, its sound captured and measured.
Run one case: player_cases.py CASE (CTest runs each as e2e.player.CASE).

Times in the captured sound: the engine holds its output to the wall clock,
so the capture's length when something is done is where its effect starts
(the engine mixes a little ahead); the measurements look at windows a good
half second away from such a point."""
import math
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lib"))
import orvantis_e2e as e2e  # noqa: E402
import screen  # noqa: E402
from orvantis_e2e import (IDC_BALANCE, IDC_BALANCE_VALUE, IDC_BITRATE, IDC_LEFT_METER,  # noqa: E402
                          IDC_NAME, IDC_PLAY, IDC_RIGHT_METER, IDC_STATIONS, IDC_TITLE,
                          IDC_VOLUME, IDC_VOLUME_VALUE, IDM_EXIT, VK_ESCAPE, VK_RETURN)

capture = e2e.capture
ARTEFACTS = os.path.join(os.environ.get("ORVANTIS_E2E_WORK", "."), "..", "artefacts")

WM_COMMAND = 0x0111
WM_WTSSESSION_CHANGE = 0x02B1
WTS_SESSION_LOCK, WTS_SESSION_UNLOCK = 7, 8
THBN_CLICKED = 0x1800
VK_F4 = 0x73
IDM_MUTE_ON_LOCK, IDM_MUTE_EFFECT = 4010, 4011
IDM_SHOW_SPECTRUM, IDM_CENTER_SPECTRUM, IDM_HIDE_ON_HOVER = 4012, 4013, 4014
INFO_CONTROLS = range(3010, 3017)
SPECTRUM_CLASS = "OrvantisSpectrumAnalyzer"
BAR_GREY = (89, 89, 89)

# The radio server's tones are sines at half scale.
TONE_PEAK = 0.5

# The English texts the window shows (lang/1033): 5041, 5042, 5070, and the
# thumbnail buttons' tooltips 5011 and 5012.
STATUS_TEXT, BUFFERING_TEXT, ERROR_STATUS = "Status", "Buffering", "Error"
PLAY_TIP, STOP_TIP = "Play", "Stop"
# The program's icons: the button's play and stop, the thumbnail buttons',
# the overlays while playing and connecting.
ICON_PLAY, ICON_STOP = "102", "103"
ICON_THUMB_PLAY, ICON_THUMB_STOP, ICON_PLAYING, ICON_CONNECTING = "104", "105", "106", "107"
TBPF_NOPROGRESS, TBPF_INDETERMINATE = 0, 1
# A change the window shows appears at once; this is ample.
SHOWN_S = 5.0


def ini(volume=1.0, pan=0.0, **flags):
    values = {"orvantis.audio.vol": f"{volume:.6f}", "orvantis.audio.pan": f"{pan:.6f}"}
    names = {"show": "orvantis.ui.spectrum.show", "centre": "orvantis.ui.spectrum.center",
             "hover": "orvantis.ui.spectrum.hide_on_hover", "mute": "orvantis.audio.mute_on_lock",
             "effect": "orvantis.audio.mute_on_lock.fun"}
    for flag, on in flags.items():
        values[names[flag]] = "1" if on else "0"
    return values


def now(s):
    """Where the captured sound has got to, in seconds."""
    return capture.seconds_of(s.program.wav)


def play_for(s, seconds):
    """Lets the program play on for seconds of captured sound."""
    start = now(s)
    e2e.wait_until(lambda: now(s) >= start + seconds, f"{seconds} s more sound")


def level(sound, channel, start, length=0.5):
    return capture.rms(sound.window(channel, start, length))


def wait_playing(s, bitrate=None):
    e2e.wait_until(lambda: s.text(IDC_BITRATE) and "KBit/s" in s.text(IDC_BITRATE)
                   and (bitrate is None or s.text(IDC_BITRATE) == bitrate), "playback to begin")


def command(s, cmd_id, notification=0, lparam=0):
    s.driver.call("post", s.main, WM_COMMAND, (notification << 16) | cmd_id, lparam)


def fields_empty(s):
    return all(s.text(c) == "" for c in (IDC_NAME, IDC_TITLE, IDC_BITRATE))


def meters(s):
    return [int(s.driver.one("meter", s.main, c) or -1) for c in (IDC_LEFT_METER, IDC_RIGHT_METER)]


def meters_until(s, ok):
    """The meters once ok(meters) holds, or as they are after a while."""
    return settled(lambda: meters(s), ok)


def tone_at(sound, start, hz, length=0.6):
    """Both channels of the window hold the tone hz; prints what they hold."""
    ok = True
    for c in range(2):
        window = sound.window(c, start, length)
        f, p = capture.tone_quality(window, sound.rate, hz)
        print(f"      channel {c} from {start:.2f} s: {f:.1f} Hz, purity {p:.2f}")
        ok = ok and abs(f - hz) < 3 and p > 0.8
    return ok


def settled(get, ok, patience=SHOWN_S):
    """get() once ok() holds for it, or its last answer when patience runs out."""
    deadline = time.monotonic() + patience
    while True:
        value = get()
        if ok(value) or time.monotonic() > deadline:
            return value
        time.sleep(e2e.POLL_S)


def button_icon(s):
    """Which of the play and stop icons the play button shows on the screen."""
    return s.driver.one("shows", s.main, IDC_PLAY, ICON_PLAY, ICON_STOP)


def expect_icon(s, check, want, text):
    check.equal(settled(lambda: button_icon(s), lambda icon: icon == want), want, text)


def taskbar_made(serial, main):
    """What registration tells a new taskbar object: its thumbnail buttons
    with their icons and tooltips (mask: icon, tooltip and flags)."""
    return [f"create {serial}", f"{serial} HrInit",
            f"{serial} ThumbBarAddButtons {main} 2 [0 14 {ICON_THUMB_PLAY} 0 {PLAY_TIP}]"
            f" [1 14 {ICON_THUMB_STOP} 0 {STOP_TIP}]"]


def taskbar_states(serial, main, *states):
    """The calls that switch the taskbar button to each state in turn."""
    calls = {"idle": [f'SetOverlayIcon {main} none ""', f"SetProgressState {main} {TBPF_NOPROGRESS}"],
             "connecting": [f'SetOverlayIcon {main} {ICON_CONNECTING} ""',
                            f"SetProgressState {main} {TBPF_INDETERMINATE}"],
             "playing": [f"SetProgressState {main} {TBPF_NOPROGRESS}",
                         f'SetOverlayIcon {main} {ICON_PLAYING} ""']}
    return [f"{serial} {call}" for state in states for call in calls[state]]


def expect_taskbar(s, check, want, text):
    check.equal(s.taskbar.calls(len(want)), want, f"taskbar: {text}")


def announce_taskbar_button(s):
    # No shell runs here: the driver tells the window that its taskbar
    # button was made, as the shell does when it (re)creates its taskbar.
    s.driver.call("post", s.main, "@TaskbarButtonCreated", 0, 0)


def error_box(s, check, name, code):
    """The stream error box of a station that failed: while it shows, the
    title says so; OK closes it."""
    box = s.driver.one("wait", "--process", s.program.folder_name(), "--class", "#32770",
                       "--caption", "Orvantis", "--timeout", "20000")
    check.expect(box is not None, f"{name}: an error box")
    caption = e2e.env("ORVANTIS_CAPTION")
    check.equal(s.driver.one("text", s.main), f"{caption}: {ERROR_STATUS}", f"{name}: the title while the box shows")
    rc, lines = s.driver.call("box", "--process", s.program.folder_name(), "--timeout", "5000")
    check.expect(rc == 0 and len(lines) == 2 and f"(error code {code})" in lines[1],
                 f"{name}: the error box {lines}")
    answers_after_box(s, check, name)
    e2e.wait_until(lambda: fields_empty(s), f"{name}: idle after the box")


# The head lines the radio server sends; the status field shows one at a time.
RADIO_HEAD = ["HTTP/1.0 200 OK", "Content-Type: audio/mpeg", "icy-name: Orvantis Test Radio",
              "icy-br: 128", "icy-genre: Test"]


def watch_buffering(s, check):
    """Follows the name and bit-rate fields from a start until playback:
    the engine's status in the name field and the buffer's fill, rising, in
    the bit-rate field."""
    statuses, percents = set(), []
    deadline = time.monotonic() + e2e.PATIENCE_S
    while time.monotonic() < deadline:
        name, bitrate = s.text(IDC_NAME) or "", s.text(IDC_BITRATE) or ""
        if "KBit/s" in bitrate:
            break
        if name.startswith(STATUS_TEXT + ": "):
            statuses.add(name[len(STATUS_TEXT) + 2:])
        prefix = BUFFERING_TEXT + ": "
        if bitrate.startswith(prefix) and bitrate.endswith("%") and bitrate[len(prefix):-1].isdigit():
            percents.append(int(bitrate[len(prefix):-1]))
        time.sleep(e2e.POLL_S)
    check.expect(statuses and statuses <= set(RADIO_HEAD),
                 f"'{STATUS_TEXT}: ' and what the server answered in 3012 while connecting: {sorted(statuses)}")
    check.expect(len(set(percents)) > 1 and percents == sorted(percents) and 0 <= percents[0] and percents[-1] <= 99,
                 f"'{BUFFERING_TEXT}: N%' rising in 3016 while buffering: {percents}")


def every_way_of_playing(check):
    stations = [("Icecast tone", "icecast:/tone.mp3"), ("Radio 660", "radio:/stream.mp3?tone=660"),
                # Sent at its bit rate from the first byte: it buffers for a second and a half.
                ("Radio 880", "radio:/stream.mp3?tone=880&burst=0"),
                ("Nobody there", "http://127.0.0.1:1/stream.mp3")]
    with e2e.Session("play-ways", stations, icecast=True, ini=ini(volume=0.8), taskbar=True) as s:
        main = s.main
        announce_taskbar_button(s)
        expect_taskbar(s, check, taskbar_made(1, main), "the object and its thumbnail buttons")
        expect_icon(s, check, ICON_PLAY, "the play icon while idle")
        marks = []
        # Double click on row 0.
        s.double_click(0)
        wait_playing(s, "128 KBit/s")
        expect_taskbar(s, check, taskbar_states(1, main, "idle", "connecting", "playing"), "a double click")
        expect_icon(s, check, ICON_STOP, "the stop icon while playing")
        check.equal(s.text(IDC_NAME), "Orvantis Test Radio", "station name after the double click")
        check.equal(s.driver.call("playing", s.main, IDC_STATIONS)[1], ["0"], "the playing row")
        # ezstream names the file it plays until the harness sets the first title.
        first = e2e.wait_until(lambda: (s.text(IDC_TITLE) or "").startswith("Tone ") and s.text(IDC_TITLE),
                               "the harness's title")
        e2e.wait_until(lambda: s.text(IDC_TITLE) != first, "the next title")
        check.expect(s.text(IDC_TITLE).startswith("Tone "), f"next title {s.text(IDC_TITLE)!r}")
        moving = e2e.wait_until(lambda: max(meters(s)) > 1000 and meters(s), "the level meters")
        check.expect(min(moving) > 1000, f"both meters move while playing: {moving}")
        marks.append((now(s), 440))
        play_for(s, 1.5)

        # Enter on row 1 while row 0 plays: switches.
        s.driver.call("select", s.main, IDC_STATIONS, 1)
        s.driver.call("key", s.main, IDC_STATIONS, VK_RETURN)
        wait_playing(s, " 128 KBit/s")
        expect_taskbar(s, check, taskbar_states(1, main, "idle", "connecting", "playing"), "Enter")
        check.equal(s.driver.call("playing", s.main, IDC_STATIONS)[1], ["1"], "the playing row after Enter")
        marks.append((now(s), 660))
        play_for(s, 1.5)

        # The button stops and starts the selection.
        s.driver.call("click", s.main, IDC_PLAY)
        e2e.wait_until(lambda: fields_empty(s), "the fields to empty after stop")
        e2e.wait_until(lambda: meters(s) == [0, 0], "the meters at 0 after stop")
        expect_taskbar(s, check, taskbar_states(1, main, "idle"), "the button's stop")
        expect_icon(s, check, ICON_PLAY, "the play icon after stop")
        check.equal(s.driver.call("playing", s.main, IDC_STATIONS)[1], [], "no playing row when stopped")
        s.driver.call("select", s.main, IDC_STATIONS, 2)
        s.driver.call("click", s.main, IDC_PLAY)
        watch_buffering(s, check)
        wait_playing(s)
        expect_taskbar(s, check, taskbar_states(1, main, "idle", "connecting", "playing"), "the button's start")
        marks.append((now(s), 880))
        play_for(s, 1.5)

        # The thumbnail buttons: 1 stops, 0 starts the selection again.
        command(s, 1, THBN_CLICKED)
        e2e.wait_until(lambda: fields_empty(s), "the thumbnail stop")
        expect_taskbar(s, check, taskbar_states(1, main, "idle"), "the stop thumbnail")
        s.driver.call("select", s.main, IDC_STATIONS, 1)
        command(s, 0, THBN_CLICKED)
        wait_playing(s)
        expect_taskbar(s, check, taskbar_states(1, main, "idle", "connecting", "playing"), "the play thumbnail")
        marks.append((now(s), 660))
        play_for(s, 1.5)

        # Play pressed with nothing selected: only the stop of a start runs.
        s.driver.call("click", s.main, IDC_PLAY)
        e2e.wait_until(lambda: fields_empty(s), "the stop before the empty selection")
        s.driver.call("select", s.main, IDC_STATIONS, -1)
        s.driver.call("click", s.main, IDC_PLAY)
        expect_taskbar(s, check, taskbar_states(1, main, "idle", "idle"), "stop, then play with no selection")
        expect_icon(s, check, ICON_PLAY, "the play icon after play with no selection")
        check.expect(fields_empty(s) and s.driver.call("playing", s.main, IDC_STATIONS)[1] == [],
                     "nothing plays without a selection")

        # A station that cannot be reached: the error box, then idle again.
        s.double_click(3)
        error_box(s, check, "Nobody there", 2)
        expect_taskbar(s, check, taskbar_states(1, main, "idle", "connecting", "idle"), "a failed start")
        expect_icon(s, check, ICON_PLAY, "the play icon after a failed start")

        # The shell made its taskbar anew: the old object goes, a new one
        # gets the buttons and the states from then on.
        announce_taskbar_button(s)
        expect_taskbar(s, check, ["destroy 1"] + taskbar_made(2, main), "a new taskbar replaces the object")
        s.double_click(1)
        wait_playing(s)
        expect_taskbar(s, check, taskbar_states(2, main, "idle", "connecting", "playing"), "the new object")

        sound = capture.read(s.program.wav)
        for at, hz in marks:
            check.expect(tone_at(sound, at + 0.7, hz), f"{hz} Hz heard in both channels from {at:.1f} s")
            capture.expect_sounding(sound, at + 0.5, 0.9, check, f"{hz} Hz")


def volume_balance_and_mute(check):
    stations = [("Radio tone", "radio:/stream.mp3")]
    with e2e.Session("volume", stations, ini=ini(volume=1.0)) as s:
        check.equal(s.driver.one("slider", s.main, IDC_VOLUME), "100", "volume slider from the settings")
        check.equal(s.text(IDC_VOLUME_VALUE), "100%", "volume label")
        s.double_click(0)
        wait_playing(s)
        play_for(s, 2.5)  # past the fade-in
        # Each setting is measured in the half second before the next one is
        # made: its own change has long reached the sound by then, the next
        # has not begun.
        full = now(s)
        s.driver.call("slider", s.main, IDC_VOLUME, 50)
        check.equal(s.text(IDC_VOLUME_VALUE), "50%", "volume label at half")
        play_for(s, 1.5)
        half = now(s)
        s.driver.call("slider", s.main, IDC_BALANCE, 150)  # pan 0.5: the left side at half
        check.equal(s.text(IDC_BALANCE_VALUE), "< 50", "balance label")
        # Each meter shows its own channel's peak.
        halved = meters_until(s, lambda m: m[1] > 1000 and 0.4 < m[0] / m[1] < 0.6)
        check.expect(halved[1] > 1000 and 0.4 < halved[0] / halved[1] < 0.6,
                     f"pan 0.5: the left meter at half the right one: {halved}")
        play_for(s, 1.5)
        right = now(s)
        s.driver.call("slider", s.main, IDC_BALANCE, 0)  # full left: the right side silent
        check.equal(s.text(IDC_BALANCE_VALUE), "100 >", "balance label full left")
        one_side = meters_until(s, lambda m: m[0] > 1000 and m[1] == 0)
        check.expect(one_side[0] > 1000 and one_side[1] == 0,
                     f"full left: the left meter up, the right one at 0: {one_side}")
        play_for(s, 1.5)
        left = now(s)
        s.driver.call("tap", s.main, IDC_BALANCE_VALUE)  # centres
        e2e.wait_until(lambda: s.text(IDC_BALANCE_VALUE) == "> <", "the balance to centre")
        check.equal(s.driver.one("slider", s.main, IDC_BALANCE), "100", "balance slider centred")
        play_for(s, 1.5)
        centred = now(s)
        s.driver.call("tap", s.main, IDC_VOLUME_VALUE)  # mutes
        e2e.wait_until(lambda: s.text(IDC_VOLUME_VALUE) == "0%", "the mute")
        check.equal(s.driver.one("slider", s.main, IDC_VOLUME), "0", "volume slider muted")
        play_for(s, 1.5)
        muted = now(s)

        sound = capture.read(s.program.wav)
        # From the end of the fade to the mute the tone never stops.
        capture.expect_sounding(sound, full - 1.0, centred - full + 1.0, check, "volume and balance")
        base = [level(sound, c, full - 0.5) for c in range(2)]
        want = TONE_PEAK / math.sqrt(2)
        # The fade is over and the level is the server's: MP3 coding leaves a
        # few per cent.
        check.expect(all(abs(b - want) < 0.1 * want for b in base), f"full volume RMS {base}")
        # The engine's volume is a linear gain: half the slider, half the
        # amplitude; 10 % covers the coding noise.
        ratio = [level(sound, c, half - 0.5) / base[c] for c in range(2)]
        check.expect(all(0.45 < r < 0.55 for r in ratio), f"half volume: {ratio[0]:.3f}, {ratio[1]:.3f}")
        pan = [level(sound, c, right - 0.5) / base[c] for c in range(2)]
        check.expect(0.2 < pan[0] < 0.3 and 0.45 < pan[1] < 0.55,
                     f"pan 0.5 at half volume: left {pan[0]:.3f}, right {pan[1]:.3f}")
        full_left = [level(sound, c, left - 0.5) / base[c] for c in range(2)]
        check.expect(0.45 < full_left[0] < 0.55 and full_left[1] < 0.01,
                     f"full left: left {full_left[0]:.3f}, right {full_left[1]:.4f}")
        centre = [level(sound, c, centred - 0.5) / base[c] for c in range(2)]
        check.expect(all(0.45 < r < 0.55 for r in centre), f"centred again: {centre}")
        # Silence is the whole window, not its median: no burst may get through.
        silence = [level(sound, c, muted - 0.5) for c in range(2)]
        check.expect(all(x < capture.SILENCE for x in silence), f"muted: {silence}")
        check.expect(tone_at(sound, centred - 0.7, 440), "the tone itself stays 440 Hz")


FADE_S = 1.0  # the lock's fade, linear from full to silent


def fade_onset(sound, start, reference, limit=1.5):
    """Where a linear fade that began after start began: the sound first
    falls below 90 % of reference a tenth of the fade in. The post and the
    engine's mixing ahead put it a little after start, by how much depends on
    how busy the machine is."""
    step = 0.01
    t = start
    while t < start + limit:
        if level(sound, 0, t, 2 * step) < 0.9 * reference:
            return max(start, t - 0.1 * FADE_S)
        t += step
    return start


def rise_onset(sound, start, reference, limit=2.0):
    """Where a fade in from silence that began after start can first be
    heard: 5 % of reference in a 50 ms window (its first 50 ms or so, even
    when the pitch glides up from almost nothing as well)."""
    step = 0.01
    t = start
    while t < start + limit:
        if level(sound, 0, t, 0.05) > 0.05 * reference:
            return t
        t += step
    return start


def pitch(sound, start, length=0.2):
    return capture.frequency(sound.window(0, start, length), sound.rate)


def expect_glide(check, sound, onset, effect, what):
    """From a fade in's onset: with the effect the pitch starts far down and
    glides up, without it the tone is there at once."""
    early, later = pitch(sound, onset + 0.2), pitch(sound, onset + 0.45)
    print(f"      {what}: {early:.0f} Hz, then {later:.0f} Hz")
    if effect:
        check.expect(early < 0.8 * 440 and early < later,
                     f"{what}: the pitch glides up ({early:.0f} Hz, then {later:.0f} Hz)")
    else:
        check.expect(abs(early - 440) < 3, f"{what}: 440 Hz from the start ({early:.0f} Hz)")


def session_lock(check):
    stations = [("Radio tone", "radio:/stream.mp3")]
    for name, mute, effect in (("lock-off", False, False), ("lock", True, False),
                               ("lock-effect", True, True)):
        with e2e.Session(name, stations, ini=ini(volume=1.0, mute=mute, effect=effect)) as s:
            if effect:
                # Locked and unlocked while idle: there is no stream to slide.
                for event in (WTS_SESSION_LOCK, WTS_SESSION_UNLOCK):
                    s.driver.call("post", s.main, WM_WTSSESSION_CHANGE, event, 0)
                    check.expect(s.responsive(), f"{name}: the window answers a lock change while idle")
            started = now(s)
            s.double_click(0)
            wait_playing(s)
            play_for(s, 2.5)
            locked = now(s)
            s.driver.call("post", s.main, WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 0)
            play_for(s, 2.5)
            unlocked = now(s)
            s.driver.call("post", s.main, WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK, 0)
            play_for(s, 2.5)
            check.expect(s.responsive(), f"{name}: the window answers")

            sound = capture.read(s.program.wav)
            capture.expect_sounding(sound, locked - 1.5, 1.5, check, f"{name}: before the lock")
            capture.expect_sounding(sound, unlocked + 1.0, 1.4, check, f"{name}: after the unlock")
            before = [level(sound, c, locked - 0.6) for c in range(2)]
            expect_glide(check, sound, rise_onset(sound, started, before[0], limit=5.0), effect, f"{name}: the start")
            after = [level(sound, c, unlocked + 1.5) for c in range(2)]
            check.expect(all(abs(a - b) < 0.1 * b for a, b in zip(after, before)),
                         f"{name}: back to {before} after unlock: {after}")
            back = pitch(sound, unlocked + 1.5, 0.5)
            check.expect(abs(back - 440) < 3, f"{name}: 440 Hz again after unlock ({back:.0f} Hz)")
            if not mute:
                # Nothing changes: no fade, no pitch change, while locked.
                during = [level(sound, c, locked + 1.0, 1.0) for c in range(2)]
                check.expect(all(abs(d - b) < 0.1 * b for d, b in zip(during, before)),
                             f"{name}: full level while locked: {during} (before {before})")
                check.expect(abs(pitch(sound, locked + 1.0, 1.0) - 440) < 3, f"{name}: 440 Hz while locked")
                continue
            fade = fade_onset(sound, locked, before[0])
            print(f"      {name}: the fade began {fade - locked:.2f} s after the lock was posted")
            during = [level(sound, c, fade + FADE_S + 0.2) for c in range(2)]
            check.expect(all(d < capture.SILENCE for d in during), f"{name}: silent when locked: {during}")
            # Half way through the fade: fading, not cut.
            midway = level(sound, 0, fade + 0.35, 0.3)
            check.expect(0.1 * before[0] < midway < 0.95 * before[0],
                         f"{name}: fading out ({midway:.4f} of {before[0]:.4f})")
            dropping = pitch(sound, fade + 0.3, 0.3)
            if effect:
                check.expect(dropping < 0.8 * 440, f"{name}: the pitch drops while fading ({dropping:.0f} Hz)")
            else:
                check.expect(abs(dropping - 440) < 3, f"{name}: no pitch change ({dropping:.0f} Hz)")
            # The unlock fades back in, and with the effect glides back up.
            rise = rise_onset(sound, unlocked, before[0])
            print(f"      {name}: the fade in began {rise - unlocked:.2f} s after the unlock was posted")
            rising = level(sound, 0, rise + 0.35, 0.3)
            check.expect(0.1 * before[0] < rising < 0.95 * before[0],
                         f"{name}: fading in ({rising:.4f} of {before[0]:.4f})")
            expect_glide(check, sound, rise, effect, f"{name}: the unlock")


VK_UP = 0x26


def open_options_menu(s, step_up):
    """Opens the Options menu and answers its popup and screen rectangle.
    The keyboard opens it with the first item highlighted; with step_up the
    highlight moves up to the last item instead."""
    s.driver.call("menu", s.main, "o")
    popup = e2e.wait_until(lambda: s.driver.one("wait", "--process", s.program.folder_name(),
                                                "--class", "#32768", "--timeout", "100"), "the menu")
    if step_up:
        s.driver.call("key", s.main, 0, VK_UP)
    rect = tuple(int(v) for v in s.driver.one("rect", popup).split())
    return popup, rect


WM_CANCELMODE = 0x001F


def close_menu(s, popup):
    # Ends the menu's modal loop whatever it is doing, as a click elsewhere would.
    s.driver.call("send", s.main, WM_CANCELMODE, 0, 0)
    e2e.wait_until(lambda: s.driver.call("wait", "--process", s.program.folder_name(), "--class",
                                         "#32768", "--timeout", "50")[0] != 0, "the menu to close")


MENU_ITEMS = 5  # Options: 4010 to 4014


def read_options_menu(s, step_up, png=None):
    """The Options menu's items as drawn, once all five are on the screen,
    the highlight is where the keys put it and two looks agree. A menu that
    never shows so fails the case."""
    popup, rect = open_options_menu(s, step_up)
    lit = MENU_ITEMS - 1 if step_up else 0
    looks = []

    def look():
        looks.append(screen.menu_items(screen.grab(rect)))
        return looks[-1]

    def ready(items):
        return (len(items) == MENU_ITEMS and [i["highlighted"] for i in items] == [i == lit for i in range(MENU_ITEMS)]
                and len(looks) > 1 and looks[-2] == items)

    items = settled(look, ready)
    if png:
        screen.grab(rect, png)
    close_menu(s, popup)
    if not ready(items):
        raise AssertionError(f"the Options menu as read off the screen, item {lit} highlighted: {items}")
    return items


def menu_state(s, png=None):
    """(checked, greyed) of the Options menu's items, top to bottom: read
    twice, with the highlight on the last item and then on the first, so
    each item is seen once as it is."""
    last_highlighted = read_options_menu(s, True, png)
    first_highlighted = read_options_menu(s, False)
    items = last_highlighted[:-1] + first_highlighted[-1:]
    return [(i["checked"], i["greyed"]) for i in items]


IDM_MODULES, IDM_ABOUT = 4020, 4021
# What the About box and the module list show of the program (lang/1033:
# 5003, 5002, 5004 and 5044).
LINK = ["Visit the Orvantis website", "https://orvantis.example.org/",
        "Opens the Orvantis website in your browser"]
MODULES_NAME = "Loaded modules"
# The module list's file dialog (Wine's): the file name box, and its OK.
FILE_NAME_BOX, IDOK = 0x47C, 1


def dialog(s, caption):
    """A dialog of the program with this title other than the main window."""
    def other():
        rc, lines = s.driver.call("windows", "--process", s.program.folder_name(), "--class", "#32770",
                                  "--caption", caption)
        found = [line.split("\t")[0] for line in lines if not line.startswith(s.main + "\t")]
        return found[0] if rc == 0 and found else None
    return e2e.wait_until(other, f"the dialog {caption!r}")


def close_dialog(s, check, window, button, name):
    s.driver.call("click", window, button)
    gone = s.driver.call("wait-gone", window, "--timeout", "10000")[0] == 0
    check.expect(gone and s.responsive(), f"{name}: closes, and the main window answers")


def about_and_modules(s, check):
    caption, version, build = (e2e.env(n) for n in ("ORVANTIS_CAPTION", "ORVANTIS_VERSION", "ORVANTIS_BUILD"))
    command(s, IDM_ABOUT)
    about = dialog(s, caption)
    check.equal([s.driver.one("text", about, c) for c in (2002, 2013, 2007)], ["Orvantis", version, build],
                "About: the name, version and build")
    rc, link = s.driver.call("link", about)
    check.equal(link, LINK, "About: the link's text, address and tooltip")
    close_dialog(s, check, about, 2001, "About")

    command(s, IDM_MODULES)
    modules = dialog(s, MODULES_NAME)
    check.equal(s.driver.one("text", modules, 3003), MODULES_NAME, "Modules: the header")
    rows = s.driver.one("items", modules, 3006)
    check.expect(rows and int(rows) > 3 and s.driver.one("text", modules, 3010) == rows,
                 f"Modules: {rows} rows, counted below the list")
    saved = os.path.join(s.work, "modules.txt")
    s.driver.call("click", modules, 3028)
    chooser = dialog(s, "Save...")
    s.driver.call("settext", chooser, FILE_NAME_BOX, e2e.windows_path(saved))
    s.driver.call("click", chooser, IDOK)
    rc, box = s.driver.call("box", "--process", s.program.folder_name(), "--caption", MODULES_NAME,
                            "--timeout", "10000")
    check.equal(box[1:] if rc == 0 else None, ["File saved"], "Modules: the export's box")
    try:
        with open(saved, encoding="latin-1") as f:
            lines = f.read().splitlines()
    except FileNotFoundError:
        lines = []
    program = [line for line in lines if line.endswith("\\" + os.path.basename(s.program.exe))]
    want = f"{version + '.' + build:>25}      {'Application':<25} "
    check.expect(len(program) == 1 and program[0].startswith(want),
                 f"Modules: the saved list names the program with its version: {program}")
    check.expect(f"{'Modules':>25}: {int(rows or 0):5d}" in lines, "Modules: the saved list's count")
    close_dialog(s, check, modules, 3029, "Modules")


def mute_menu_greys_its_effect(check):
    with e2e.Session("menu", [("Radio tone", "radio:/stream.mp3")],
                     ini=ini(mute=True, effect=True, show=False, centre=True, hover=False)) as s:
        spectrum = [(False, False), (True, False), (False, False)]
        on = menu_state(s, os.path.join(ARTEFACTS, "menu-mute-on.png"))
        check.equal(on, [(True, False), (True, False)] + spectrum, "4010 and 4011 checked and enabled")
        command(s, IDM_MUTE_ON_LOCK)
        off = menu_state(s, os.path.join(ARTEFACTS, "menu-mute-off.png"))
        check.equal(off, [(False, False), (True, True)] + spectrum,
                    "4010 off: 4011 greyed, keeping its check mark")
        command(s, IDM_MUTE_ON_LOCK)
        check.equal(menu_state(s), on, "4010 on again: 4011 enabled again")
        about_and_modules(s, check)


def spectrum_rect(s):
    analyzer = s.driver.one("child", s.main, SPECTRUM_CLASS)
    panel = [int(v) for v in s.driver.one("rect", s.main, 3010).split()]
    return analyzer, (panel[0], panel[1], panel[2], panel[3])


def bar_rows(image):
    """Rows holding bar pixels, counted from the bottom."""
    rows = screen.rows_with(image, BAR_GREY)
    return sorted(image.height - 1 - y for y in rows)


def look_at(rect, ok, twice=False):
    """A grab of rect once ok(grab) holds (with twice, for two grabs in a
    row: a picture half redrawn does not count), or the last one after a
    while."""
    held = []

    def holds(image):
        held.append(ok(image))
        return held[-1] and (not twice or held[-2:] == [True, True])
    return settled(lambda: screen.grab(rect), holds)


# FFT bin 128 of 2048 at 44.1 kHz has its middle at 2756.25 Hz: a tone there
# leaves its neighbours at half its magnitude and the rest near nothing. At a
# fifth of the volume even the tallest bar stays below the picture's top.
SPECTRUM_TONE = 2756
SPECTRUM_VOLUME = 0.2
BAR_PITCH = 8  # the bar count is the bar area's width over this
FFT_SIZE, FFT_BINS, STREAM_RATE = 2048, 1024, 44100


def bar_of_tone(bars, hz):
    """The bar that holds the FFT bin of hz: bar j takes the bins after the
    previous bar's last up to 2^(10 j / (bars - 1)), truncated, at most the
    last bin, and at least one bin."""
    tone_bin = round(hz * FFT_SIZE / STREAM_RATE)
    last = 0
    for j in range(bars):
        end = int(2.0 ** (j * 10.0 / (bars - 1))) if bars > 1 else 1
        end = max(min(end, FFT_BINS - 1), last + 1)
        if last < tone_bin <= end:
            return j
        last = end
    return None


def bar_heights(image, bars, area):
    """The height in rows of each bar, read up its middle column from the bottom."""
    pitch = area // bars
    heights = []
    for j in range(bars):
        x = pitch * j + (pitch - 2) // 2
        rows = 0
        while rows < image.height and image.pixel(x, image.height - 1 - rows) == BAR_GREY:
            rows += 1
        heights.append(rows)
    return heights


def tallest_bar(image, bars, area):
    """The one tallest bar; None while two or more share the top or nothing rose."""
    heights = bar_heights(image, bars, area)
    top = max(heights)
    return heights.index(top) if top > 1 and heights.count(top) == 1 else None


def expect_tone_bar(s, check, rect, what, png=None):
    area = rect[2] - rect[0]
    bars = area // BAR_PITCH
    want = bar_of_tone(bars, SPECTRUM_TONE)
    seen = look_at(rect, lambda image: tallest_bar(image, bars, area) == want
                   and bar_heights(image, bars, area)[want] > image.height // 2, twice=True)
    if png:
        screen.grab(rect, png)
    got = tallest_bar(seen, bars, area)
    check.equal(got, want, f"{what}: the tallest of {bars} bars is the one holding {SPECTRUM_TONE} Hz"
                f" (heights {bar_heights(seen, bars, area)})")
    # Every bar has its stub at least: the bottom row runs to the last bar's end.
    last = (area // bars) * bars - 3
    bottom = [x for x in range(seen.width) if seen.pixel(x, seen.height - 1) == BAR_GREY]
    check.equal(bottom[-1] if bottom else None, last, f"{what}: the bars end where a bar area {area} wide ends")


# The main window's layout (control, how it follows a size change: 1 moves
# right, 2 moves down, 4 grows wider, 8 grows taller).
LAYOUT = {3001: 8, 3002: 8, 3004: 12, 3005: 1, 3006: 9, 3007: 1, 3008: 9, 3009: 3, 3010: 6,
          3011: 2, 3013: 2, 3015: 2, 3012: 6, 3014: 6, 3016: 6, 3018: 2, 3021: 2, 3020: 3,
          3023: 3, 3019: 6, 3022: 6}
GROWN_BY = (160, 90)


def place(s, window, control=0):
    return tuple(int(v) for v in s.driver.one("place", window, control).split())


def screen_rect(s, window, control=0):
    return tuple(int(v) for v in s.driver.one("rect", window, control).split())


def laid_out(rect, flags, dx, dy):
    left, top, right, bottom = rect
    if flags & 1:
        left, right = left + dx, right + dx
    if flags & 2:
        top, bottom = top + dy, bottom + dy
    if flags & 4:
        right += dx
    if flags & 8:
        bottom += dy
    return (left, top, right, bottom)


def resize_while_playing(s, check, analyzer):
    """Grows the window: every control of the layout moves and grows as its
    flags say, and the spectrum keeps its size, follows 3010's corner and
    draws its bars across 3010's new width."""
    first = {c: place(s, s.main, c) for c in LAYOUT}
    client = place(s, s.main)
    own = screen_rect(s, analyzer)
    window = window_rect(s)
    grown = s.driver.one("resize", s.main, window[2] - window[0] + GROWN_BY[0],
                         window[3] - window[1] + GROWN_BY[1])
    width, height = (int(v) for v in grown.split())
    dx, dy = width - client[2], height - client[3]
    check.equal((dx, dy), GROWN_BY, "the client area grew with the window")
    moved = {c: place(s, s.main, c) for c in LAYOUT}
    wrong = {c: (moved[c], laid_out(first[c], LAYOUT[c], dx, dy)) for c in LAYOUT
             if moved[c] != laid_out(first[c], LAYOUT[c], dx, dy)}
    check.equal(wrong, {}, "every control where the layout puts it (got, want)")
    spectrum = screen_rect(s, analyzer)
    panel = screen_rect(s, s.main, 3010)
    check.equal(spectrum[:2], panel[:2], "the spectrum at the panel's corner")
    check.equal((spectrum[2] - spectrum[0], spectrum[3] - spectrum[1]), (own[2] - own[0], own[3] - own[1]),
                "the spectrum keeps its size")
    _, rect = spectrum_rect(s)
    expect_tone_bar(s, check, rect, "grown", os.path.join(ARTEFACTS, "spectrum-grown.png"))


def spectrum_from_the_menu(check):
    os.makedirs(ARTEFACTS, exist_ok=True)
    with e2e.Session("spectrum", [("Tone", f"radio:/stream.mp3?tone={SPECTRUM_TONE}")],
                     ini=ini(volume=SPECTRUM_VOLUME)) as s:
        screen.grab(window_rect(s), os.path.join(ARTEFACTS, "idle.png"))
        s.double_click(0)
        wait_playing(s)
        play_for(s, 1.5)  # past the fade in
        screen.grab(window_rect(s), os.path.join(ARTEFACTS, "playing.png"))
        analyzer, rect = spectrum_rect(s)
        check.expect(analyzer is not None, "the spectrum window exists")
        command(s, IDM_SHOW_SPECTRUM)
        e2e.wait_until(lambda: s.driver.one("state", analyzer) == "visible 1 enabled 1", "the spectrum")
        hidden = [s.driver.one("state", s.main, c).startswith("visible 0") for c in INFO_CONTROLS]
        check.expect(all(hidden), f"3010 to 3016 hidden while the spectrum shows: {hidden}")
        playing = look_at(rect, lambda image: max(bar_rows(image) or [0]) > 5)
        screen.grab(window_rect(s), os.path.join(ARTEFACTS, "playing-spectrum.png"))
        rows = bar_rows(playing)
        check.expect(rows and max(rows) > 5, f"bars rise above the idle stubs (top row {max(rows or [0])})")
        expect_tone_bar(s, check, rect, "first size", os.path.join(ARTEFACTS, "spectrum.png"))
        resize_while_playing(s, check, analyzer)
        analyzer, rect = spectrum_rect(s)

        s.driver.call("click", s.main, IDC_PLAY)  # stop: the idle stubs
        e2e.wait_until(lambda: fields_empty(s), "stop")
        idle = bar_rows(look_at(rect, lambda image: sorted(set(bar_rows(image))) == [0]))
        check.equal(sorted(set(idle)), [0], "idle: one row of stubs at the bottom")
        command(s, IDM_CENTER_SPECTRUM)
        middle = (rect[3] - rect[1]) // 2 - 1
        centred = look_at(rect, lambda image: sorted(set(bar_rows(image))) == [middle])
        screen.grab(rect, os.path.join(ARTEFACTS, "spectrum-centred-idle.png"))
        check.equal(sorted(set(bar_rows(centred))), [middle], "centred: the stubs just below the middle")

        command(s, IDM_HIDE_ON_HOVER)
        s.driver.call("post", analyzer, 0x0200, 0, (10 << 16) | 10)  # WM_MOUSEMOVE over the bars
        e2e.wait_until(lambda: s.driver.one("state", s.main, 3012).startswith("visible 1"),
                       "the information under the mouse")
        command(s, IDM_SHOW_SPECTRUM)
        e2e.wait_until(lambda: s.driver.one("state", analyzer).startswith("visible 0"), "hidden again")
        shown = [s.driver.one("state", s.main, c).startswith("visible 1") for c in INFO_CONTROLS]
        check.expect(all(shown), "the information panel back")


def window_rect(s):
    return tuple(int(v) for v in s.driver.one("rect", s.main).split())


def answers_after_box(s, check, name):
    """Right after OK on an error box: the title is the bare caption again
    and a look at the window (title and controls) answers at once."""
    caption = e2e.env("ORVANTIS_CAPTION")
    began = time.monotonic()
    took, title = s.look()
    while title != caption and time.monotonic() - began < e2e.AT_ONCE_S:
        time.sleep(e2e.POLL_S)
        took, title = s.look()
    waited = time.monotonic() - began
    print(f"      {name}: the bare title {waited:.2f} s after OK, a look took {took:.2f} s")
    check.expect(title == caption and waited < e2e.AT_ONCE_S,
                 f"{name}: the title {title!r} {waited:.2f} s after OK, want {caption!r} at once")
    check.expect(took < e2e.AT_ONCE_S, f"{name}: a look at the window after the box takes {took:.2f} s")


def bad_stations(check):
    # The server sends its first 64 KiB (4 s of sound) at once: these end or
    # stall a second of real time later and are gone for good (the engine's
    # tries to connect again are refused), and the engine plays out its buffer.
    stations = [("Nobody there", "http://127.0.0.1:1/stream.mp3"), ("Missing", "radio:/missing"),
                ("Noise", "radio:/noise"), ("Closes", "radio:/stream.mp3?close=80000&gone=1&id=closes"),
                ("Stalls", "radio:/stream.mp3?stall=80000&gone=1&id=stalls"),
                ("Silent server", "radio:/silent"),
                # Less than the player waits for before it plays (1.5 s): a
                # short file, and a station gone for good after a second.
                ("Short file", "radio:/stream.mp3?length=16000"),
                ("Gone early", "radio:/stream.mp3?close=16000&gone=1&id=early")]
    boxes = {0: 2, 1: 2, 2: 41}
    with e2e.Session("bad", stations, ini=ini(volume=1.0)) as s:
        for row, (name, _) in enumerate(stations):
            s.double_click(row)
            if row in boxes:
                error_box(s, check, name, boxes[row])
            elif row == 5:
                # Never answers: the player waits in the connect; the window does not.
                for _ in range(5):
                    check.expect(s.responsive(), f"{name}: the window answers while connecting")
                    time.sleep(0.2)
            else:
                wait_playing(s)
                # Plays until the data ends or stops coming: the meters fall
                # to 0 and stay there while the level timer runs on, asking
                # the engine for the level of a stream that has ended, which
                # it answers with its error value.
                e2e.wait_until(lambda: max(meters(s)) > 1000, f"{name}: sound")
                deadline = time.monotonic() + e2e.PATIENCE_S
                while max(meters(s)) > 0 and time.monotonic() < deadline:
                    check.expect(s.responsive(), f"{name}: the window answers while it plays out")
                    time.sleep(0.1)
                after_end = []
                for _ in range(5):
                    after_end.append(meters(s))
                    time.sleep(0.1)
                check.equal(after_end, [[0, 0]] * 5, f"{name}: the meters at 0 once the stream has ended")
                rc, lines = s.driver.call("box", "--process", s.program.folder_name(), "--timeout", "300")
                check.expect(rc != 0, f"{name}: no box for a stream that ends or stalls")
            check.expect(s.responsive(), f"{name}: the window answers within a second")
        s.driver.call("click", s.main, IDC_PLAY)
        e2e.wait_until(lambda: fields_empty(s), "stop")


def quit_ways_save_the_settings(check):
    stations = [("Radio tone", "radio:/stream.mp3")]
    start = ini(volume=0.6, pan=0.0, show=False, centre=False, hover=False, mute=False, effect=False)
    with e2e.Session("quit", stations, ini=start) as s:
        # Escape does not close the window.
        s.driver.call("key", s.main, IDC_STATIONS, VK_ESCAPE)
        s.driver.call("key", s.main, 0, VK_ESCAPE)
        time.sleep(1.0)  # the window must still be there after a moment
        check.expect(s.program.proc.poll() is None and s.responsive(), "Escape leaves the window open")

        ways = [("close box", lambda p: s.driver.call("close", p.main)),
                ("Alt+F4", lambda p: s.driver.call("syskey", p.main, VK_F4)),
                ("Exit", lambda p: command(s, IDM_EXIT))]
        # Positions that come back as they went: a slider's position is the
        # stored float times 100, truncated, so 35 would come back as 34 and
        # a balance of 40 as 39. Then show, centre, hover, mute and effect.
        settings = [(25, 150, True, True, False, True, False), (80, 50, False, True, True, False, True),
                    (100, 100, True, False, True, True, True)]
        program = s.program
        for (way, quit_it), (volume, balance, show, centre, hover, mute, effect) in zip(ways, settings):
            s.driver.call("slider", program.main, IDC_VOLUME, volume)
            s.driver.call("slider", program.main, IDC_BALANCE, balance)
            current = {key: value == "1" for key, value in program.read_ini().items()}
            for flag, cmd_id, key in ((show, IDM_SHOW_SPECTRUM, "orvantis.ui.spectrum.show"),
                                      (centre, IDM_CENTER_SPECTRUM, "orvantis.ui.spectrum.center"),
                                      (hover, IDM_HIDE_ON_HOVER, "orvantis.ui.spectrum.hide_on_hover")):
                if current.get(key) != flag:
                    command(s, cmd_id)
            # The effect's item is greyed while muting is off: as a user
            # would, turn muting on to change it.
            muting = current.get("orvantis.audio.mute_on_lock")
            if current.get("orvantis.audio.mute_on_lock.fun") != effect:
                if not muting:
                    command(s, IDM_MUTE_ON_LOCK)
                    muting = True
                command(s, IDM_MUTE_EFFECT)
            if muting != mute:
                command(s, IDM_MUTE_ON_LOCK)
            e2e.wait_until(lambda: s.responsive(), "the commands handled")
            quit_it(program)
            gone = s.driver.call("wait-gone", program.main, "--timeout", "10000")[0] == 0
            check.expect(gone, f"{way}: the window closes")
            rc = program.wait_exit()
            check.equal(rc, 1, f"{way}: exit code")
            with open(program.ini, encoding="latin-1") as f:
                lines = [line.strip() for line in f if "=" in line]
            keys = [line.split("=", 1)[0] for line in lines]
            check.expect(len(keys) == 7 and len(set(keys)) == 7, f"{way}: seven keys, once each: {keys}")
            flags = {True: "1", False: "0"}
            check.equal(program.read_ini(),
                        {"orvantis.audio.vol": f"{volume / 100:.6f}",
                         "orvantis.audio.pan": f"{(balance - 100) / 100:.6f}",
                         "orvantis.ui.spectrum.show": flags[show],
                         "orvantis.ui.spectrum.center": flags[centre],
                         "orvantis.ui.spectrum.hide_on_hover": flags[hover],
                         "orvantis.audio.mute_on_lock": flags[mute],
                         "orvantis.audio.mute_on_lock.fun": flags[effect]}, f"{way}: the saved settings")
            # A restart shows them again.
            program.start(s.driver)
            check.equal(s.driver.one("slider", program.main, IDC_VOLUME), str(volume), f"{way}: volume slider")
            check.equal(s.driver.one("slider", program.main, IDC_BALANCE), str(balance), f"{way}: balance slider")
            check.equal(s.text(IDC_VOLUME_VALUE), f"{volume}%", f"{way}: volume label")
            analyzer = s.driver.one("child", program.main, SPECTRUM_CLASS)
            check.equal(s.driver.one("state", analyzer).startswith("visible 1"), show,
                        f"{way}: the spectrum shown as saved")
            check.equal(menu_state(s), [(mute, False), (effect, not mute), (show, False), (centre, False),
                                        (hover, False)], f"{way}: the Options menu as saved")


def rapid_clicking(check):
    """Impatient clicks among stations that answer at once, late or never:
    the window answers every time, and the last one chosen is what plays."""
    stations = [("Fast", "radio:/stream.mp3?fast=1"), ("Late", "radio:/stream.mp3?delay=1500"),
                ("Never", "radio:/silent"), ("Tone 660", "radio:/stream.mp3?tone=660")]
    with e2e.Session("rapid", stations, ini=ini(volume=1.0)) as s:
        slowest = 0.0
        for click in range(40):
            s.double_click(click % 3)
            began = time.monotonic()
            check.expect(s.responsive(), f"click {click}: the window answers") or None
            slowest = max(slowest, time.monotonic() - began)
        s.double_click(3)
        wait_playing(s)
        check.equal(s.driver.call("playing", s.main, IDC_STATIONS)[1], ["3"], "the last station chosen plays")
        mark = now(s)
        play_for(s, 2.0)
        sound = capture.read(s.program.wav)
        check.expect(tone_at(sound, mark + 0.8, 660), "and it is heard")
        capture.expect_sounding(sound, mark + 0.5, 1.4, check, "the last station")
        print(f"      slowest answer {slowest * 1000:.0f} ms")


def stations_of_every_kind(check):
    """An MP3 station over HTTPS (the prefix trusts the test root), an AAC
    one, an Ogg Opus one from Icecast and a live HLS one: each is named, tells
    its bit rate, is heard with its own tone and shows its title."""
    stations = [("Secure radio", "tls:/stream.mp3?tone=660"), ("AAC radio", "radio:/stream.aac"),
                ("Opus radio", "icecast:/tone.opus"), ("HLS radio", "hls:/master.m3u8?live=1&titles=1")]
    # Told apart by their bit rates, so one is not taken for the one before
    # still shown (the radio server puts a blank after "icy-br:", and after
    # "icy-name:", which the player shows as it is).
    bitrates = (" 128 KBit/s", " 96 KBit/s", "64 KBit/s", "96 KBit/s")
    names = (" Orvantis Test Radio", " Orvantis Test Radio", "Orvantis Test Radio", "HLS Test Radio")
    tones = (660, 440, None, 440)
    with e2e.Session("reach", stations, icecast=True, ini=ini(volume=1.0)) as s:
        for row, (name, _) in enumerate(stations):
            s.double_click(row)
            wait_playing(s, bitrates[row])
            check.equal(s.text(IDC_NAME), names[row], f"{name}: the station's name")
            if name == "Opus radio":
                # A chain of two parts, each a tone with its own title: the
                # second's title comes when its 660 Hz is heard, after the
                # first's (so not at the start, whichever part that is).
                for part in ("One", "Two"):
                    e2e.wait_until(lambda: s.text(IDC_TITLE) == f"Test Artist - Opus {part}",
                                   f"Opus {part}'s title", patience=10)
                mark = now(s)
                play_for(s, 1.0)
                sound = capture.read(s.program.wav)
                check.expect(tone_at(sound, mark + 0.2, 660), f"{name}: 660 Hz with the title Opus Two")
                capture.expect_sounding(sound, mark, 0.8, check, name)
                continue
            if name == "HLS radio":
                # Timed titles "Live K" every third second, shown as heard.
                first = e2e.wait_until(lambda: (s.text(IDC_TITLE) or "").startswith("Live ") and s.text(IDC_TITLE),
                                       "a live title")
                e2e.wait_until(lambda: s.text(IDC_TITLE) != first, "the next live title", patience=10)
                check.expect(s.text(IDC_TITLE).startswith("Live "), f"{name}: next title {s.text(IDC_TITLE)!r}")
            mark = now(s)
            play_for(s, 2.0)
            sound = capture.read(s.program.wav)
            check.expect(tone_at(sound, mark + 0.8, tones[row]), f"{name}: its tone is heard")
            capture.expect_sounding(sound, mark + 0.5, 1.4, check, name)
        s.driver.call("click", s.main, IDC_PLAY)
        e2e.wait_until(lambda: fields_empty(s), "stop")


CASES = {
    "rapid-clicks": rapid_clicking,
    "play-ways": every_way_of_playing,
    "volume": volume_balance_and_mute,
    "lock": session_lock,
    "menu": mute_menu_greys_its_effect,
    "spectrum": spectrum_from_the_menu,
    "bad-stations": bad_stations,
    "quit": quit_ways_save_the_settings,
    "stations": stations_of_every_kind,
}

if __name__ == "__main__":
    sys.exit(e2e.run_cases(CASES))
