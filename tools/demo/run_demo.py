#!/usr/bin/env python3
"""What scripts/run does once the program is built: the demo radio, the
station directory on the program's address, and the program under Wine.

With a display the program opens there and this ends when its window is
closed. Without one it runs on a virtual display: double-clicks the first
demo station, lets it play, writes three pictures of the window (idle,
playing with the station panel, playing with the spectrum) and the sound it
played into the output folder, and ends the program through its Exit
command. Either way, and on Ctrl+C, everything it started is stopped.

  run_demo.py --out OUT [--arch win64|win32] --dist DIST --driver DRIVER.exe --port PORT
(the driver of the program's own architecture: it reads the program's memory)
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e", "lib"))
import orvantis_e2e as e2e  # noqa: E402
import screen  # noqa: E402

WINE_SESSION = os.path.join(ROOT, "scripts", "wine-session")
PLAY_S = 6.0
IDM_EXIT = 4000
IDM_SHOW_SPECTRUM = 4012
WM_COMMAND = 0x0111
SPECTRUM_SETTLE_S = 0.5  # a few of its frames, forty a second


class Stopping(Exception):
    pass


def on_signal(*_):
    raise Stopping()


def caption():
    import re
    text = open(os.path.join(ROOT, "cmake", "versions.cmake")).read()
    return "Orvantis v" + re.search(r"set\(ORVANTIS_VERSION (\d+\.\d+\.\d+)\.", text).group(1)


def start_radio(run):
    """The demo radio; answers its process and the directory it wrote."""
    www = os.path.join(run, "www")
    radio = subprocess.Popen([sys.executable, os.path.join(HERE, "demo_radio.py"), "--directory", www],
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                             start_new_session=True)
    line = radio.stdout.readline()
    if not line.startswith("PORT "):
        raise RuntimeError("the demo radio did not start")
    print(f"run: demo radio on http://127.0.0.1:{line.split()[1]}/", flush=True)
    return radio, www


def has_sound_card():
    try:
        with open("/proc/asound/cards") as f:
            return "no soundcards" not in f.read()
    except OSError:
        return False


def window_rect(driver, main):
    return tuple(int(v) for v in driver.one("rect", main).split())


def demo(driver, program, out):
    """The scripted run on the virtual display."""
    main = program.main
    screen.grab(window_rect(driver, main), os.path.join(out, "orvantis-idle.png"))
    driver.call("dblclick", main, e2e.IDC_STATIONS, 0)
    e2e.wait_until(lambda: "KBit/s" in (driver.one("wtext", main, e2e.IDC_BITRATE) or ""),
                   "the first demo station to play")
    e2e.wait_until(lambda: driver.one("wtext", main, e2e.IDC_TITLE), "its title")
    played = e2e.capture.seconds_of(program.wav)
    e2e.wait_until(lambda: e2e.capture.seconds_of(program.wav) > played + PLAY_S / 2, "sound")
    screen.grab(window_rect(driver, main), os.path.join(out, "orvantis-playing.png"))
    driver.call("post", main, WM_COMMAND, IDM_SHOW_SPECTRUM, 0)
    e2e.wait_until(lambda: e2e.capture.seconds_of(program.wav) > played + PLAY_S, "more sound")
    time.sleep(SPECTRUM_SETTLE_S)
    screen.grab(window_rect(driver, main), os.path.join(out, "orvantis-spectrum.png"))
    # Leaves the settings as they were found: the spectrum off again.
    driver.call("post", main, WM_COMMAND, IDM_SHOW_SPECTRUM, 0)
    driver.call("post", main, WM_COMMAND, IDM_EXIT, 0)
    if program.wait_exit(30) is None:
        raise RuntimeError("the program did not end through Exit")
    print("run: pictures written to out/orvantis-idle.png, out/orvantis-playing.png and"
          " out/orvantis-spectrum.png; the sound to out/orvantis-played.wav", flush=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", required=True)
    ap.add_argument("--arch", choices=("win64", "win32"), default="win64")
    ap.add_argument("--dist", required=True)
    ap.add_argument("--driver", required=True)
    ap.add_argument("--port", type=int, required=True)
    args = ap.parse_args()
    out = os.path.abspath(args.out)
    run = os.path.join(out, "run")
    shutil.rmtree(run, ignore_errors=True)
    os.makedirs(run)
    # A prefix per architecture: the i386 program in a 32-bit Windows.
    prefix = os.path.join(out, "wineprefix" if args.arch == "win64" else "wineprefix-" + args.arch)
    os.environ.update({"WINEPREFIX": prefix, "WINEARCH": args.arch, "ORVANTIS_BITS": args.arch[3:],
                       "WINEDEBUG": "-all",
                       "WINEDLLOVERRIDES": "mscoree,mshtml=", "ORVANTIS_DIST": args.dist,
                       "ORVANTIS_DRIVER": args.driver, "ORVANTIS_CAPTION": caption()})
    shown = bool(os.environ.get("DISPLAY"))
    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)

    radio = directory = driver = program = None
    try:
        subprocess.run([WINE_SESSION, "up"], check=True, stdout=subprocess.DEVNULL)
        radio, www = start_radio(run)
        directory = e2e.Directory.serving(www, args.port)
        print(f"run: station directory on 127.0.0.1:{args.port}", flush=True)
        # The installed layout with its own settings and downloaded directory.
        # Without a display, or without a sound card, the sound goes into a file.
        capture = not shown or not has_sound_card()
        program = e2e.Program(run, "Orvantis", {"orvantis.audio.vol": "0.800000",
                                                "orvantis.audio.pan": "0.000000"}, capture=capture)
        if capture:
            print("run: the sound goes into out/run/Orvantis/played.wav", flush=True)
        driver = e2e.Driver()
        if shown:
            print(f"run: Orvantis on {os.environ['DISPLAY']}; close its window to end", flush=True)
        else:
            state = prefix + ".session"
            with open(os.path.join(state, "display")) as f, open(os.path.join(state, "xvfb.pid")) as g:
                print(f"run: no display; Orvantis on the virtual display :{f.read().strip()}"
                      f" (Xvfb {g.read().strip()})", flush=True)
        program.start(driver)
        if shown:
            while program.wait_exit(0.5) is None:
                pass
        else:
            demo(driver, program, out)
            shutil.copyfile(program.wav, os.path.join(out, "orvantis-played.wav"))
        return 0
    except Stopping:
        print("run: stopping", flush=True)
        return 130
    finally:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        if program and program.proc and program.proc.poll() is None and program.main:
            driver.call("post", program.main, WM_COMMAND, IDM_EXIT, 0)
            program.wait_exit(10)
        if program:
            program.kill()
        if driver:
            driver.close()
        if directory:
            directory.close()
        if radio:
            radio.stdin.close()  # the radio ends when its input does
            try:
                radio.wait(timeout=15)
            except subprocess.TimeoutExpired:
                os.killpg(radio.pid, signal.SIGKILL)
        subprocess.run([WINE_SESSION, "down"], stdout=subprocess.DEVNULL, check=False)


if __name__ == "__main__":
    sys.exit(main())
