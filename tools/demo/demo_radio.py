#!/usr/bin/env python3
"""The demo radio of scripts/run: a private Icecast server playing generated
music with changing titles, and a station directory that lists it first.

  demo_radio.py --directory OUT   writes OUT/dwl/programs/orvantis/channels.xml:
                                  our directory with the demo stations on top
Prints "PORT n" once the mounts are live and runs until stdin closes or it is
terminated, then stops everything it started.
"""
import argparse
import os
import signal
import subprocess
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "radio"))
import icecast_harness  # noqa: E402

RATE = 44100
NOTE_S = 0.3
# Arpeggios over C, G, Am, F: a pleasant loop rather than a test tone.
PROGRESSION = (
    ("C", (261.63, 329.63, 392.00, 523.25)),
    ("G", (196.00, 246.94, 293.66, 392.00)),
    ("Am", (220.00, 261.63, 329.63, 440.00)),
    ("F", (174.61, 220.00, 261.63, 349.23)),
)
LOOPS = 4
TITLES = ("Demo Ensemble - Morning Arpeggio", "Demo Ensemble - Four Chords",
          "Demo Ensemble - Plucked Strings", "Demo Ensemble - Loop of the Day")
DIRECTORY_FILE = os.path.join("dwl", "programs", "orvantis", "channels.xml")
WWW = os.path.join(here, "..", "..", "www")


def sox(*args):
    subprocess.run(("sox",) + args, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def music_wav(folder, name, transpose=1.0):
    """About 20 s of plucked arpeggios with a little reverb."""
    path = os.path.join(folder, name)
    notes = []
    for _ in range(LOOPS):
        for _, chord in PROGRESSION:
            for i, hz in enumerate(chord + chord[-2:0:-1]):
                note = os.path.join(folder, f"note{len(notes)}.wav")
                sox("-n", "-r", str(RATE), "-c", "2", "-b", "16", note, "synth", str(NOTE_S),
                    "pluck", f"{hz * transpose:.2f}", "vol", "0.6")
                notes.append(note)
    joined = os.path.join(folder, "joined-" + name)
    sox(*notes, joined)
    sox(joined, path, "reverb", "40", "gain", "-n", "-3")
    for note in notes + [joined]:
        os.remove(note)
    return path


def demo_media(folder):
    mp3 = os.path.join(folder, "demo.mp3")
    subprocess.run(["lame", "--quiet", "-b", "128", "--cbr", music_wav(folder, "demo.wav"), mp3],
                   check=True)
    oggs = []
    for n, (transpose, title) in enumerate(((1.0, TITLES[0]), (1.5, TITLES[1]))):
        ogg = os.path.join(folder, f"demo{n}.ogg")
        subprocess.run(["oggenc", "--quiet", "-b", "96", "-a", "Demo Ensemble",
                        "-t", title.split(" - ", 1)[1], "-o", ogg,
                        music_wav(folder, f"demo{n}.wav", transpose)], check=True)
        oggs.append(ogg)
    return mp3, oggs


def demo_aac(folder):
    """The music once more, as AAC-LC in ADTS frames."""
    path = os.path.join(folder, "demo.aac")
    subprocess.run(["ffmpeg", "-nostdin", "-y", "-loglevel", "error", "-i",
                    music_wav(folder, "demo-aac.wav", 1.25), "-c:a", "aac", "-b:a", "96k",
                    "-f", "adts", path], check=True)
    return path


DEMO_STATIONS = (("Orvantis Demo Radio (MP3)", icecast_harness.MP3_MOUNT),
                 ("Orvantis Demo Radio (Ogg Vorbis)", icecast_harness.OGG_MOUNT),
                 ("Orvantis Demo Radio (AAC)", icecast_harness.AAC_MOUNT))


def write_directory(out, port):
    """Our directory with the demo stations in front of the real ones."""
    with open(os.path.join(WWW, DIRECTORY_FILE), encoding="utf-8") as f:
        text = f.read()
    demo = "".join(
        f"""
    <station>
      <id value="{900 + n}"/>
      <name value="{name}"/>
      <serverlist>
        <server url="http://127.0.0.1:{port}{mount}"/>
      </serverlist>
    </station>"""
        for n, (name, mount) in enumerate(DEMO_STATIONS))
    marker = "<stationlist>"
    if marker not in text:
        raise RuntimeError("our directory has no station list")
    text = text.replace(marker, marker + demo, 1)
    path = os.path.join(out, DIRECTORY_FILE)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--directory", required=True, help="folder to write the station directory into")
    ap.add_argument("--title-every", type=float, default=5.0)
    args = ap.parse_args()
    h = icecast_harness.Harness(args.title_every, make_media=demo_media,
                                title=lambda n: TITLES[(n - 1) % len(TITLES)],
                                name="Orvantis Demo Radio", genre="Demo",
                                aac=True, make_aac=demo_aac)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        h.start()
        write_directory(args.directory, h.port)
        print(f"PORT {h.port}", flush=True)
        sys.stdin.read()
    finally:
        h.close()


if __name__ == "__main__":
    main()
