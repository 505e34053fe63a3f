#!/usr/bin/env python3
"""Reads what a program played into the ALSA file device and measures it.

The tests route ALSA's default device into a WAV file (scripts/lib/alsa.sh);
the file is written while the program plays, so its header may still claim no
data: the samples run to the end of the file whatever it says. Pure Python
(no numpy), fast enough for the few seconds a test plays.

As a command:
  capture.py fade-in FILE --hz HZ [--level L]
      the tone HZ starts silent in both channels, grows over about a second
      and then holds, with no dropout; with --level, at about L of full
      scale (RMS of a sine of peak L is L / sqrt 2)
  capture.py tone FILE --hz HZ
      the loudest second holds the tone HZ in both channels, with no dropout
  capture.py loud FILE
      the loudest second of some channel is well above silence
Prints what it measured; exits 1 when a check fails.
"""
import argparse
import array
import math
import os
import struct
import sys

FULL_SCALE = 32768.0
SILENCE = 0.002        # RMS below this (of full scale) counts as silence
WINDOW_S = 0.05
# A fade from silence is silent at first: the first 5 ms of a test tone (half
# scale) faded in to full volume over a second hold an RMS of 0.001.
FIRST_WINDOW_S = 0.005
# Digital silence: every channel at 0 or within two 16-bit steps of it, all
# that the rounding in Wine's mixer and in the sink's conversion leaves of
# nothing. The quietest tone the checks expect (a quarter of half scale)
# crosses zero by hundreds of steps a sample: sound never stays this close.
DIGITAL_SILENCE = 2 / FULL_SCALE
# A dropout: digital silence this long inside what should sound. Wine fills
# its output with silence a period (10 ms) at a time when it runs dry: one
# such period alone is left to the benchmarks' count (bench/, 5 ms and up);
# two in a row, or one lost period of the engine's waveOut output (20 ms),
# fail a check. A gap of 20 ms is plainly heard.
DROPOUT_S = 0.02


class Capture:
    def __init__(self, rate, channels):
        self.rate = rate
        self.channels = channels  # one array of floats (-1..1) per channel

    @property
    def frames(self):
        return len(self.channels[0]) if self.channels else 0

    def seconds(self):
        return self.frames / self.rate if self.rate else 0.0

    def window(self, channel, start_s, length_s):
        a = max(0, int(start_s * self.rate))
        b = min(self.frames, int((start_s + length_s) * self.rate))
        return self.channels[channel][a:b]


def seconds_of(path):
    """How much sound the file holds so far, from its size alone (16-bit
    stereo at 44.1 kHz, the header counted out), cheap enough to poll."""
    try:
        size = os.path.getsize(path)
    except OSError:
        return 0.0
    return max(0, size - 44) / (44100 * 4)


def read(path, start_s=0.0):
    """The samples of a 16-bit PCM WAV file as floats per channel; from
    start_s on when given (the rest is skipped, not converted)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise ValueError(f"{path}: not a WAV file")
    at = 12
    rate = channels = bits = 0
    body = None
    while at + 8 <= len(data):
        kind, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
        if kind == b"fmt ":
            _, channels, rate, _, _, bits = struct.unpack("<HHIIHH", data[at + 8:at + 24])
        elif kind == b"data":
            body = data[at + 8:]  # to the end: the header may not be final yet
            break
        at += 8 + size + (size & 1)
    if body is None or bits != 16 or channels < 1:
        raise ValueError(f"{path}: no 16-bit PCM data")
    return from_pcm16(body[int(start_s * rate) * 2 * channels:], rate, channels)


def from_pcm16(data, rate, channels):
    """A Capture of interleaved 16-bit little-endian samples."""
    samples = array.array("h")
    samples.frombytes(data[:len(data) - len(data) % (2 * channels)])
    if sys.byteorder != "little":
        samples.byteswap()
    return Capture(rate, [array.array("f", (s / FULL_SCALE for s in samples[c::channels]))
                          for c in range(channels)])


def silences(capture, start_s=0.0, length_s=None, shortest_s=DROPOUT_S):
    """(start, length) in seconds of every run of digital silence, in all
    channels at once, of at least shortest_s within the stretch (to the end
    without length_s)."""
    a = max(0, int(start_s * capture.rate))
    b = capture.frames if length_s is None else min(capture.frames, int((start_s + length_s) * capture.rate))
    if a >= b:
        return []
    shortest = max(1, round(shortest_s * capture.rate))
    first, others = capture.channels[0][a:b], [c[a:b] for c in capture.channels[1:]]
    runs, begun = [], None
    for i, x in enumerate(first):
        silent = -DIGITAL_SILENCE <= x <= DIGITAL_SILENCE and all(
            -DIGITAL_SILENCE <= c[i] <= DIGITAL_SILENCE for c in others)
        if silent and begun is None:
            begun = i
        elif not silent and begun is not None:
            if i - begun >= shortest:
                runs.append(((a + begun) / capture.rate, (i - begun) / capture.rate))
            begun = None
    if begun is not None and b - a - begun >= shortest:
        runs.append(((a + begun) / capture.rate, (b - a - begun) / capture.rate))
    return runs


def expect_sounding(capture, start_s, length_s, check, what):
    """check.expect()s that the stretch, which should sound throughout, has
    no dropout; says where the dropouts are when it has."""
    runs = silences(capture, start_s, length_s)
    found = ", ".join(f"{length * 1000:.0f} ms at {at:.3f} s" for at, length in runs)
    return check.expect(not runs, f"{what}: no silence of {DROPOUT_S * 1000:.0f} ms or more from"
                        f" {start_s:.2f} to {start_s + length_s:.2f} s" + (f" (found {found})" if runs else ""))


def rms(samples):
    if not samples:
        return 0.0
    return math.sqrt(sum(x * x for x in samples) / len(samples))


def envelope(capture, channel, window_s=WINDOW_S):
    """RMS per window of window_s seconds, from the start."""
    n = max(1, int(window_s * capture.rate))
    chan = capture.channels[channel]
    return [rms(chan[i:i + n]) for i in range(0, len(chan) - n + 1, n)]


def onset(capture, channel, threshold=SILENCE, window_s=WINDOW_S):
    """Seconds to the first window louder than threshold, None if none is."""
    for i, level in enumerate(envelope(capture, channel, window_s)):
        if level > threshold:
            return i * window_s
    return None


def frequency(samples, rate):
    """The frequency of a tone from the median spacing of its upward zero
    crossings (placed between samples). It measures the tone only: gaps in
    the sound are checked on their own (silences)."""
    crossings = []
    for i in range(1, len(samples)):
        a, b = samples[i - 1], samples[i]
        if a < 0 <= b and b != a:
            crossings.append(i - 1 + (-a) / (b - a))
    if len(crossings) < 3:
        return 0.0
    spans = sorted(b - a for a, b in zip(crossings, crossings[1:]))
    return rate / spans[len(spans) // 2]


def purity(samples, rate, hz):
    """Share of the signal's power at hz (Goertzel), 0..1: 1 for a pure tone."""
    if not samples:
        return 0.0
    w = 2 * math.pi * hz / rate
    coeff = 2 * math.cos(w)
    s1 = s2 = 0.0
    for x in samples:
        s1, s2 = x + coeff * s1 - s2, s1
    power = (s1 * s1 + s2 * s2 - coeff * s1 * s2) * 2 / (len(samples) ** 2)
    total = sum(x * x for x in samples) / len(samples)
    return power / total if total else 0.0


def tone_quality(samples, rate, hz, piece_s=0.05):
    """(frequency, purity) of a stretch as the medians over pieces of
    piece_s: the tone's own quality, whatever its phase does between pieces;
    gaps in the sound are checked on their own (silences)."""
    n = max(1, int(piece_s * rate))
    pieces = [samples[i:i + n] for i in range(0, len(samples) - n + 1, n)]
    pieces = [p for p in pieces if rms(p) > SILENCE] or [samples]
    purities = sorted(purity(p, rate, hz) for p in pieces)
    return frequency(samples, rate), purities[len(purities) // 2]


def loudest_second(capture, channel):
    best, best_level = 0.0, -1.0
    length = capture.seconds()
    t = 0.0
    while t + 1.0 <= length:
        level = rms(capture.window(channel, t, 1.0)[::8])
        if level > best_level:
            best, best_level = t, level
        t += 0.25
    return best


class Checks:
    def __init__(self):
        self.failures = 0

    def expect(self, ok, text):
        print(("ok    " if ok else "FAIL  ") + text)
        if not ok:
            self.failures += 1


def check_tone(capture, hz, checks, start=None, tolerance=3.0):
    for c in range(len(capture.channels)):
        at = loudest_second(capture, c) if start is None else start
        window = capture.window(c, at, 1.0)
        f, p = tone_quality(window, capture.rate, hz)
        checks.expect(abs(f - hz) <= tolerance and p > 0.8,
                      f"channel {c}: {f:.1f} Hz at {at:.2f} s (purity {p:.2f}), want {hz} Hz")
        expect_sounding(capture, at, 1.0, checks, f"the second of channel {c}'s tone")


def check_fade_in(capture, hz, level, checks):
    """Silent at first, then a fade of about a second to a steady level."""
    for c in range(len(capture.channels)):
        start = onset(capture, c, window_s=FIRST_WINDOW_S)
        checks.expect(start is not None and start > 0.0,
                      f"channel {c}: silence first, the sound from {start} s")
        if start is None:
            continue
        early = rms(capture.window(c, start, 0.2))
        steady = rms(capture.window(c, start + 1.2, 0.5))
        late = rms(capture.window(c, start + 1.7, 0.5))
        checks.expect(early < 0.5 * steady,
                      f"channel {c}: first 0.2 s at {early:.4f}, below half the steady {steady:.4f}")
        checks.expect(steady > 0 and abs(late - steady) < 0.1 * steady,
                      f"channel {c}: steady after a second ({steady:.4f}, then {late:.4f})")
        if level is not None:
            want = level / math.sqrt(2)
            checks.expect(abs(steady - want) < 0.15 * want,
                          f"channel {c}: steady RMS {steady:.4f}, want {want:.4f}")
        expect_sounding(capture, start, 2.2, checks, f"from channel {c}'s onset")
    check_tone(capture, hz, checks)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("check", choices=("fade-in", "tone", "loud"))
    ap.add_argument("file")
    ap.add_argument("--hz", type=float)
    ap.add_argument("--level", type=float, help="peak of the steady tone, 0..1")
    args = ap.parse_args()
    capture = read(args.file)
    print(f"{args.file}: {capture.seconds():.2f} s, {capture.rate} Hz, "
          f"{len(capture.channels)} channels")
    checks = Checks()
    if args.check == "loud":
        levels = [rms(capture.window(c, loudest_second(capture, c), 1.0)) for c in range(len(capture.channels))]
        checks.expect(max(levels, default=0) > 10 * SILENCE, f"loudest second's RMS per channel {levels}")
    elif args.hz is None:
        ap.error("--hz is needed for " + args.check)
    elif args.check == "fade-in":
        check_fade_in(capture, args.hz, args.level, checks)
    else:
        check_tone(capture, args.hz, checks)
    return 1 if checks.failures else 0


if __name__ == "__main__":
    sys.exit(main())
