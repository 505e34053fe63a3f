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
        play_for(s, 1.5)
        right = now(s)
        s.driver.call("slider", s.main, IDC_BALANCE, 0)  # full left: the right side silent
        check.equal(s.text(IDC_BALANCE_VALUE), "100 >", "balance label full left")
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


def session_lock(check):
    stations = [("Radio tone", "radio:/stream.mp3")]
    for effect in (False, True):
        name = "lock-effect" if effect else "lock"
        with e2e.Session(name, stations, ini=ini(volume=1.0, mute=True, effect=effect)) as s:
            s.double_click(0)
            wait_playing(s)
            play_for(s, 2.0)
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
            fade = fade_onset(sound, locked, before[0])
            print(f"      {name}: the fade began {fade - locked:.2f} s after the lock was posted")
            during = [level(sound, c, fade + FADE_S + 0.2) for c in range(2)]
            after = [level(sound, c, unlocked + 1.5) for c in range(2)]
            check.expect(all(d < capture.SILENCE for d in during), f"{name}: silent when locked: {during}")
            check.expect(all(abs(a - b) < 0.1 * b for a, b in zip(after, before)),
                         f"{name}: back to {before} after unlock: {after}")
            # Half way through the fade: fading, not cut.
            midway = level(sound, 0, fade + 0.35, 0.3)
            check.expect(0.1 * before[0] < midway < 0.95 * before[0],
                         f"{name}: fading out ({midway:.4f} of {before[0]:.4f})")
            pitch = capture.frequency(sound.window(0, fade + 0.3, 0.3), sound.rate)
            back = capture.frequency(sound.window(0, unlocked + 1.5, 0.5), sound.rate)
            if effect:
                check.expect(pitch < 0.8 * 440, f"{name}: the pitch drops while fading ({pitch:.0f} Hz)")
            else:
                check.expect(abs(pitch - 440) < 3, f"{name}: no pitch change ({pitch:.0f} Hz)")
            check.expect(abs(back - 440) < 3, f"{name}: 440 Hz again after unlock ({back:.0f} Hz)")


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


def menu_state(s, png=None):
    """(checked, greyed) of the Options menu's items, top to bottom: read
    twice, with the highlight on the last item and then on the first, so
    each item is seen once as it is."""
    readings = []
    for step_up in (True, False):
        popup, rect = open_options_menu(s, step_up)
        time.sleep(0.3)  # the popup is drawn after it shows; nothing to poll for
        readings.append(screen.menu_items(screen.grab(rect, png if step_up else None)))
        close_menu(s, popup)
    last_highlighted, first_highlighted = readings
    if len(last_highlighted) != len(first_highlighted) or not last_highlighted:
        return []
    items = last_highlighted[:-1] + first_highlighted[-1:]
    return [(i["checked"], i["greyed"]) for i in items]


def mute_menu_greys_its_effect(check):
    with e2e.Session("menu", [("Radio tone", "radio:/stream.mp3")],
                     ini=ini(mute=True, effect=True)) as s:
        on = menu_state(s, os.path.join(ARTEFACTS, "menu-mute-on.png"))
        check.expect(len(on) == 5, f"five items in the Options menu: {on}")
        if len(on) == 5:
            check.equal(on[0], (True, False), "4010 checked and enabled")
            check.equal(on[1], (True, False), "4011 checked and enabled")
        command(s, IDM_MUTE_ON_LOCK)
        off = menu_state(s, os.path.join(ARTEFACTS, "menu-mute-off.png"))
        if len(off) == 5:
            check.equal(off[0], (False, False), "4010 unchecked")
            check.equal(off[1][1], True, "4011 greyed with 4010 off")
            check.equal(off[1][0], True, "4011 keeps its check mark")
        command(s, IDM_MUTE_ON_LOCK)
        again = menu_state(s)
        if len(again) == 5:
            check.equal(again[1], (True, False), "4011 enabled again")


def spectrum_rect(s):
    analyzer = s.driver.one("child", s.main, SPECTRUM_CLASS)
    panel = [int(v) for v in s.driver.one("rect", s.main, 3010).split()]
    return analyzer, (panel[0], panel[1], panel[2], panel[3])


def bar_rows(image):
    """Rows holding bar pixels, counted from the bottom."""
    rows = screen.rows_with(image, BAR_GREY)
    return sorted(image.height - 1 - y for y in rows)


def spectrum_from_the_menu(check):
    os.makedirs(ARTEFACTS, exist_ok=True)
    with e2e.Session("spectrum", [("Icecast tone", "icecast:/tone.mp3")], icecast=True,
                     ini=ini(volume=0.8)) as s:
        screen.grab(window_rect(s), os.path.join(ARTEFACTS, "idle.png"))
        s.double_click(0)
        wait_playing(s)
        play_for(s, 1.5)
        screen.grab(window_rect(s), os.path.join(ARTEFACTS, "playing.png"))
        analyzer, rect = spectrum_rect(s)
        check.expect(analyzer is not None, "the spectrum window exists")
        command(s, IDM_SHOW_SPECTRUM)
        e2e.wait_until(lambda: s.driver.one("state", analyzer) == "visible 1 enabled 1", "the spectrum")
        hidden = [s.driver.one("state", s.main, c).startswith("visible 0") for c in INFO_CONTROLS]
        check.expect(all(hidden), f"3010 to 3016 hidden while the spectrum shows: {hidden}")
        time.sleep(0.3)  # a few frames; the picture changes forty times a second
        playing = screen.grab(rect, os.path.join(ARTEFACTS, "spectrum.png"))
        screen.grab(window_rect(s), os.path.join(ARTEFACTS, "playing-spectrum.png"))
        rows = bar_rows(playing)
        check.expect(rows and max(rows) > 5, f"bars rise above the idle stubs (top row {max(rows or [0])})")

        s.driver.call("click", s.main, IDC_PLAY)  # stop: the idle stubs
        e2e.wait_until(lambda: fields_empty(s), "stop")
        time.sleep(0.2)
        idle = bar_rows(screen.grab(rect))
        check.equal(sorted(set(idle)), [0], "idle: one row of stubs at the bottom")
        command(s, IDM_CENTER_SPECTRUM)
        time.sleep(0.2)
        centred = screen.grab(rect, os.path.join(ARTEFACTS, "spectrum-centred-idle.png"))
        rows = sorted(set(bar_rows(centred)))
        check.equal(rows, [centred.height // 2 - 1], "centred: the stubs just below the middle")

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
                # Plays until the data ends or stops coming: the meters fall to 0.
                e2e.wait_until(lambda: max(meters(s)) > 1000, f"{name}: sound")
                while max(meters(s)) > 0:
                    check.expect(s.responsive(), f"{name}: the window answers while it plays out")
                    time.sleep(0.1)
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
        # a balance of 40 as 39.
        settings = [(25, 150, True, True, False), (80, 50, False, True, True), (100, 100, True, False, True)]
        program = s.program
        for (way, quit_it), (volume, balance, show, centre, hover) in zip(ways, settings):
            s.driver.call("slider", program.main, IDC_VOLUME, volume)
            s.driver.call("slider", program.main, IDC_BALANCE, balance)
            current = program.read_ini()
            for flag, cmd_id, key in ((show, IDM_SHOW_SPECTRUM, "orvantis.ui.spectrum.show"),
                                      (centre, IDM_CENTER_SPECTRUM, "orvantis.ui.spectrum.center"),
                                      (hover, IDM_HIDE_ON_HOVER, "orvantis.ui.spectrum.hide_on_hover")):
                if (current.get(key) == "1") != flag:
                    command(s, cmd_id)
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
            saved = program.read_ini()
            want = {"orvantis.audio.vol": f"{volume / 100:.6f}",
                    "orvantis.audio.pan": f"{(balance - 100) / 100:.6f}",
                    "orvantis.ui.spectrum.show": "1" if show else "0",
                    "orvantis.ui.spectrum.center": "1" if centre else "0",
                    "orvantis.ui.spectrum.hide_on_hover": "1" if hover else "0"}
            for key, value in want.items():
                check.equal(saved.get(key), value, f"{way}: saved {key}")
            # A restart shows them again.
            program.start(s.driver)
            check.equal(s.driver.one("slider", program.main, IDC_VOLUME), str(volume), f"{way}: volume slider")
            check.equal(s.driver.one("slider", program.main, IDC_BALANCE), str(balance), f"{way}: balance slider")
            check.equal(s.text(IDC_VOLUME_VALUE), f"{volume}%", f"{way}: volume label")
            analyzer = s.driver.one("child", program.main, SPECTRUM_CLASS)
            check.equal(s.driver.one("state", analyzer).startswith("visible 1"), show,
                        f"{way}: the spectrum shown as saved")
            checks = [checked for checked, _ in menu_state(s)]
            check.equal(checks[2:5], [show, centre, hover], f"{way}: the spectrum menu's check marks")


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


def https_and_aac_stations(check):
    # An MP3 station over HTTPS (the prefix trusts the test root) and an AAC
    # one, each with its own tone.
    stations = [("Secure radio", "tls:/stream.mp3?tone=660"), ("AAC radio", "radio:/stream.aac")]
    tones = (660, 440)
    # Told apart by their bit rates, so the second is not taken for the first
    # still shown (the radio server puts a blank after "icy-br:").
    bitrates = (" 128 KBit/s", " 96 KBit/s")
    with e2e.Session("reach", stations, ini=ini(volume=1.0)) as s:
        for row, (name, _) in enumerate(stations):
            s.double_click(row)
            wait_playing(s, bitrates[row])
            # The radio server puts a blank after "icy-name:", which the player shows.
            check.equal(s.text(IDC_NAME).strip(), "Orvantis Test Radio", f"{name}: the station's name")
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
    "https-aac": https_and_aac_stations,
}

if __name__ == "__main__":
    sys.exit(e2e.run_cases(CASES))
