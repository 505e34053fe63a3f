#!/usr/bin/env python3
"""Wine benchmarks of the whole program on a private Icecast.

  first-audio  from the double click on a station to the first audible sample
               on a device read at real-time speed (tools/radio/paced_sink.py),
               against the engine alone (bench/engine-wine's probe: create,
               buffer, play) and mpg123 on the same mount, alternating, medians
               of --rounds. Targets: the program within 10 % of the engine
               alone, and at most 1.2 times mpg123.
  cpu          CPU per minute of steady playback of the demo music by the whole program (its
               process, the prefix's wineserver and the X server that shows
               the window) with the spectrum hidden and shown, against a plain
               waveOut tone program (Wine's output floor). Target: the spectrum
               costs less than 1 % of one core (0.6 s a minute).
  dropouts     (--dropouts, on its own) runs of digital silence of 5 ms or more
               in --dropout-seconds (60) of the MP3 tone played by the whole
               program, the engine alone and Wine's floor (the waveOut tone
               program), each while --busy (2) busy loops take the cores.

"Audible" is a sample 60 dB below full scale or louder: the program fades a
station in from silence, and a louder threshold would time its fade, not its
start. All three players are measured against the same threshold.

Needs a built win64 tree (dist/win64, build/win64/tools/driver.exe) whose
directory address is on 127.0.0.1, and scripts/setup's packages.
Run: bench/program-wine/program_wine.py [--rounds 10] [--seconds 30]
     bench/program-wine/program_wine.py --dropouts [--dropout-seconds 60] [--busy 2]
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "bench", "engine-wine"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e", "lib"))
import engine_wine  # noqa: E402
import orvantis_e2e as e2e  # noqa: E402
import screen  # noqa: E402
from engine_wine import icecast_harness, paced_sink  # noqa: E402

sys.path.insert(0, os.path.join(ROOT, "tools", "demo"))
import demo_radio  # noqa: E402

AUDIBLE = 33             # 16-bit sample magnitude: -60 dBFS
QUIET_S = 0.4            # no sound for this long: the last round has gone
WARMUP_S = 6
IDM_SHOW_SPECTRUM = 4012
SPECTRUM_CLASS = "OrvantisSpectrumAnalyzer"
SETTLE_S = 1.0           # after showing or hiding the spectrum, before a slice
WM_COMMAND = 0x0111


def wait_quiet(sink, timeout=10.0):
    """Arms the sink once nothing has been heard for QUIET_S."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        sink.arm()
        if sink.wait_loud(QUIET_S) is None:
            sink.arm()
            return True
    return False


class RunningProgram:
    """The installed layout in a folder of its own, at full volume, showing a
    one-station directory, with the driver kept running beside it."""

    def __init__(self, work, url, env):
        self.work = work
        os.environ.update({"ORVANTIS_DIST": engine_wine.DIST,
                           "ORVANTIS_DRIVER": os.path.join(engine_wine.BUILD, "tools", "driver.exe"),
                           "ORVANTIS_CAPTION": caption(), "ORVANTIS_BITS": "64"})
        self.directory = e2e.Directory(work, [("Icecast", url)])
        self.program = e2e.Program(work, "Orvantis-bench",
                                   {"orvantis.audio.vol": "1.000000", "orvantis.audio.pan": "0.000000"},
                                   capture=False)
        self.program.environment["ORVANTIS_DIRECTORY_URL"] = self.directory.url
        self.driver = e2e.Driver()
        self.program.alsa = env["ALSA_CONFIG_PATH"]
        self.program.start(self.driver)
        self.main = self.program.main

    def click(self):
        self.driver.call("dblclick", self.main, e2e.IDC_STATIONS, 0)

    def stop(self):
        self.driver.call("click", self.main, e2e.IDC_PLAY)
        e2e.wait_until(lambda: self.driver.one("wtext", self.main, e2e.IDC_BITRATE) == "", "stop")

    def playing(self):
        return "KBit/s" in (self.driver.one("wtext", self.main, e2e.IDC_BITRATE) or "")

    def spectrum_shown(self):
        analyzer = self.driver.one("child", self.main, SPECTRUM_CLASS)
        return bool(analyzer) and self.driver.one("state", analyzer).startswith("visible 1")

    def close(self):
        self.driver.call("close", self.main)
        if self.program.wait_exit(15) is None:
            self.program.kill()
        self.driver.close()
        self.directory.close()


def caption():
    text = open(os.path.join(ROOT, "cmake", "versions.cmake")).read()
    version = re.search(r"set\(ORVANTIS_VERSION (\d+\.\d+\.\d+)\.", text).group(1)
    return f"Orvantis v{version}"


def program_first_audio(sink, program):
    if not wait_quiet(sink):
        return None
    start = time.monotonic()
    program.click()
    heard = sink.wait_loud(engine_wine.LOUD_TIMEOUT_S)
    e2e.wait_until(program.playing, "playback")
    program.stop()
    return None if heard is None else (heard - start) * 1000


def probe_first_audio(sink, args, env, timings):
    """Like engine_wine's engine_first_audio for any probe that says "start"
    and then prints its own timings on its last line."""
    p = subprocess.Popen(args, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        line = p.stdout.readline()
        if not line.startswith(b"start"):
            print(f"  {os.path.basename(args[1])} did not start: {line!r}", file=sys.stderr)
            return None
        sink.arm()
        start = time.monotonic()
        heard = sink.wait_loud(engine_wine.LOUD_TIMEOUT_S)
        rest = p.stdout.read().decode(errors="replace").split()
        for key, value in zip(rest[::2], rest[1::2]):
            timings.setdefault(key, []).append(float(value))
        return None if heard is None else (heard - start) * 1000
    finally:
        p.kill()
        p.wait()


def xvfb_pid():
    try:
        with open(os.environ["WINEPREFIX"].rstrip("/") + ".session/xvfb.pid") as f:
            return int(f.read().strip())
    except (KeyError, OSError, ValueError):
        return None


def cpu_of(pids, seconds):
    before = [engine_wine.proc_cpu(p) or 0.0 for p in pids]
    time.sleep(seconds)
    after = [engine_wine.proc_cpu(p) or 0.0 for p in pids]
    return [(a - b) * 60.0 / seconds for a, b in zip(after, before)]


def report(name, values):
    if values:
        print(f"  {name:12} median {statistics.median(values):7.1f} ms  min {min(values):7.1f}"
              f"  max {max(values):7.1f}  (n={len(values)})")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--rounds", type=int, default=10)
    ap.add_argument("--seconds", type=int, default=30)
    ap.add_argument("--skip-cpu", action="store_true")
    ap.add_argument("--pairs", type=int, default=6,
                    help="hidden/shown slice pairs the --seconds of each side are cut into")
    ap.add_argument("--skip-first", action="store_true", help="only the CPU figures")
    ap.add_argument("--dropouts", action="store_true", help="only the dropout count")
    ap.add_argument("--dropout-seconds", type=int, default=60)
    ap.add_argument("--busy", type=int, default=2, help="busy loops beside the dropout count")
    args = ap.parse_args()

    paced_sink.LOUD = AUDIBLE
    lib = os.path.join(engine_wine.BUILD, "playback", "bass")
    probe = engine_wine.build("probe", ["-L", lib, "-lbass-import"])
    player_probe = os.path.join(engine_wine.BUILD, "wintests", "player_probe.exe")
    tone = engine_wine.build("tone", ["-lwinmm"])
    env = engine_wine.wine_env()
    os.environ.update({k: env[k] for k in ("WINEPREFIX", "WINEDEBUG", "WINEDLLOVERRIDES")})
    subprocess.run([os.path.join(ROOT, "scripts", "wine-session"), "up"], env=env, check=True,
                   stdout=subprocess.DEVNULL)

    work = tempfile.mkdtemp(prefix="program-bench-")
    # Music rather than a tone: a steady tone draws the same spectrum every
    # frame, which would flatter the spectrum's cost. A dropout count needs
    # the tone: music has quiet moments of its own.
    h = icecast_harness.Harness(
        title_every=0, make_media=icecast_harness.tone_media if args.dropouts else demo_radio.demo_media)
    sink = paced_sink.PacedSink(work, keep=args.dropouts)
    env = engine_wine.wine_env(sink.env())
    linux_env = dict(os.environ, **sink.env())
    program = None
    try:
        h.start()
        url = h.url(icecast_harness.MP3_MOUNT)
        program = RunningProgram(work, url, env)
        if args.dropouts:
            results = engine_wine.measure_dropouts(
                sink, [("whole program", (program.click, lambda _: program.stop()))],
                args.dropout_seconds, args.busy)
            # With its device open the program would go on sending silence
            # beside the others' sound.
            program.close()
            program = None
            run_for = engine_wine.dropout_run_for(args.dropout_seconds)
            results += engine_wine.measure_dropouts(sink, [
                ("engine alone", engine_wine.wine_player(
                    [probe, "play", url, run_for, engine_wine.DEFAULT_DEVICE], env)),
                ("waveOut tone", engine_wine.wine_player([tone, run_for], env))],
                args.dropout_seconds, args.busy)
            engine_wine.dropouts_report(results, args.busy)
            return
        ours, player, alone, mpg = [], [], [], []
        timings = {}
        # The player's host is a window: it needs the session's display.
        player_env = dict(env, ORVANTIS_DIST=engine_wine.DIST, DISPLAY=screen.display())
        for _ in range(0 if args.skip_first else args.rounds):
            value = program_first_audio(sink, program)
            if value is not None:
                ours.append(value)
            # The player alone, the engine alone and mpg123 each open the device themselves.
            for values, measure in (
                    (player, lambda: probe_first_audio(sink, [engine_wine.WINE, player_probe, url, "2"],
                                                       player_env, timings)),
                    (alone, lambda: probe_first_audio(
                        sink, [engine_wine.WINE, probe, "first", url, "2", engine_wine.DEFAULT_DEVICE],
                        env, timings)),
                    (mpg, lambda: engine_wine.mpg123_first_audio(sink, url, linux_env))):
                wait_quiet(sink)
                value = measure()
                if value is not None:
                    values.append(value)
        print(f"first audible sample (-60 dBFS), {args.rounds} rounds, 128 kbit/s MP3 (the demo"
              " music) from local Icecast, device read at real-time speed:")
        report("program", ours)
        report("player alone", player)
        report("engine alone", alone)
        report("mpg123", mpg)
        for key, values in sorted(timings.items()):
            print(f"    {key:12} median {statistics.median(values):7.1f} ms (n={len(values)})")
        if ours and alone:
            print(f"  program / engine alone: {statistics.median(ours) / statistics.median(alone):.2f}")
        if player and alone:
            print(f"  player / engine alone:  {statistics.median(player) / statistics.median(alone):.2f}")
        if ours and mpg:
            print(f"  program / mpg123:       {statistics.median(ours) / statistics.median(mpg):.2f}")
        if args.skip_cpu:
            return

        print(f"CPU per minute (steady state, {args.pairs} slices of {args.seconds / args.pairs:.0f} s"
              " a side, medians; process + wineserver + X server):")
        subprocess.run(["/usr/lib/wine/wineserver", "-p"], env=env, check=False)
        server = engine_wine.prefix_wineserver(env["WINEPREFIX"])
        x = xvfb_pid()
        pids = [program.program.proc.pid, server or 0, x or 0]
        program.click()
        e2e.wait_until(program.playing, "playback")
        time.sleep(WARMUP_S)
        # Hidden and shown alternate, a slice each, so that a slow moment of
        # the machine does not land on one side only; medians of the slices.
        slices = {False: [], True: []}
        for shown_now in [False, True] * args.pairs:
            if shown_now != program.spectrum_shown():
                program.driver.call("post", program.main, WM_COMMAND, IDM_SHOW_SPECTRUM, 0)
            e2e.wait_until(lambda: program.spectrum_shown() == shown_now, "the spectrum to change")
            time.sleep(SETTLE_S)
            slices[shown_now].append(cpu_of(pids, args.seconds / args.pairs))
        hidden = [statistics.median(part) for part in zip(*slices[False])]
        shown = [statistics.median(part) for part in zip(*slices[True])]
        program.stop()
        tone_proc = subprocess.Popen([engine_wine.WINE, tone, str(WARMUP_S + args.seconds + 5)],
                                     env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(WARMUP_S)
        floor = cpu_of([tone_proc.pid, server or 0, x or 0], args.seconds)
        tone_proc.terminate()
        tone_proc.wait()
        for name, parts in (("spectrum hidden", hidden), ("spectrum shown", shown),
                            ("waveOut tone", floor)):
            print(f"  {name:16} process {parts[0]:5.2f}  wineserver {parts[1]:5.2f}  X {parts[2]:5.2f}"
                  f"  total {sum(parts):5.2f} s/min")
        # Shown minus hidden, pair by pair and part by part.
        pair_parts = [[y - x for x, y in zip(a, b)] for a, b in zip(slices[False], slices[True])]
        differences = [sum(d) for d in pair_parts]
        print("  shown - hidden, slice by slice: " + ", ".join(f"{d:.2f}" for d in differences) + " s/min")
        split = [statistics.median(part) for part in zip(*pair_parts)]
        print(f"  of which, part by part (medians): process {split[0]:.2f}  wineserver {split[1]:.2f}"
              f"  X {split[2]:.2f} s/min")
        cost = statistics.median(differences)
        print(f"  the spectrum costs {cost:.2f} s/min = {cost / 60 * 100:.2f} % of one core;"
              f" the program above the output floor: {sum(hidden) - sum(floor):.2f} s/min")
    finally:
        if program:
            program.close()
        subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=env, check=False)
        h.close()
        sink.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
