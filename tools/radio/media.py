"""Test audio for the radio servers: sine tones as MP3 and as chained Ogg Vorbis,
made with sox, lame and oggenc into a folder of the caller's."""
import os
import subprocess

TONE_HZ = 440
SWITCH_HZ = 880      # the tone after a format switch, at SWITCH_RATE
SWITCH_RATE = 48000
OGG_TONES = ((440, "Ogg One"), (660, "Ogg Two"))


def _run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def tone_wav(folder, hz, seconds, name=None, rate=44100):
    path = os.path.join(folder, name or f"tone{hz}_{rate}.wav")
    if not os.path.exists(path):
        _run("sox", "-n", "-r", str(rate), "-c", "2", "-b", "16", path,
             "synth", str(seconds), "sine", str(hz), "vol", "0.5")
    return path


def tone_mp3(folder, hz=TONE_HZ, seconds=20, kbps=128, rate=44100):
    """A constant bit-rate MP3 of a sine tone."""
    suffix = "" if rate == 44100 else f"_{rate}"
    path = os.path.join(folder, f"tone{hz}_{kbps}{suffix}.mp3")
    if not os.path.exists(path):
        wav = tone_wav(folder, hz, seconds, rate=rate)
        _run("lame", "--quiet", "-b", str(kbps), "--cbr", "--nores", wav, path)
    return path


def ogg_parts(folder, seconds=3):
    """Ogg Vorbis files, one per title; played back to back they form a chain."""
    parts = []
    for hz, title in OGG_TONES:
        path = os.path.join(folder, f"ogg{hz}.ogg")
        if not os.path.exists(path):
            wav = tone_wav(folder, hz, seconds, f"ogg{hz}.wav")
            _run("oggenc", "--quiet", "-b", "96", "-a", "Test Artist", "-t", title, "-o", path, wav)
        parts.append(path)
    return parts


def read(path):
    with open(path, "rb") as f:
        return f.read()
