#!/usr/bin/env python3
"""Wine benchmarks of the engine against mpg123 on a private Icecast server.

  first-audio  time from creating the stream (buffering as the player does,
               then playing) to the first non-silent audio, the engine (on its
               clocked silent device, level polled every ms) beside mpg123
               (decoded PCM on stdout), alternating, medians of --rounds.
  cpu          CPU time per minute of playback: the engine on the default
               device, a plain waveOut tone program (Wine's output floor) and
               mpg123 through ALSA, every one of them writing to ALSA's file
               plugin into a pipe that is drained at the real-time rate, so all
               three are paced like a sound card.

Needs a built win64 tree (dist/win64/bass.dll) and scripts/setup's packages.
Run: bench/engine-wine/engine_wine.py [--rounds 10] [--seconds 30]
"""
import argparse
import os
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools", "radio"))
import icecast_harness  # noqa: E402

BUILD = os.path.join(ROOT, "build", "win64")
DIST = os.path.join(ROOT, "dist", "win64")
OUT = os.path.join(BUILD, "bench-engine-wine")
CXX = "x86_64-w64-mingw32-g++-posix"
WINE = "/usr/lib/wine/wine64"
SILENT_DEVICE = "0"
WARMUP_S = 5
DEFAULT_DEVICE = "-1"


def build(name, libs):
    src = os.path.join(HERE, name + ".cpp")
    exe = os.path.join(OUT, name + ".exe")
    if not os.path.exists(exe) or os.path.getmtime(exe) < os.path.getmtime(src):
        os.makedirs(OUT, exist_ok=True)
        subprocess.run([CXX, "-O2", "-std=c++17", "-static", "-I", ROOT, src, "-o", exe] + libs,
                       check=True)
    return exe


def wine_env(extra=None):
    env = dict(os.environ)
    env["WINEPREFIX"] = os.path.join(BUILD, "wineprefix")
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    env["WINEPATH"] = "Z:" + DIST.replace("/", "\\")
    env.update(extra or {})
    return env


def proc_cpu(pid):
    """CPU seconds process pid (all its threads) used so far; None once it is gone."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return None
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def prefix_wineserver(prefix):
    """Pid of the wineserver that serves `prefix`, or None."""
    want = ("WINEPREFIX=" + prefix).encode()
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/comm") as f:
                if not f.read().startswith("wineserver"):
                    continue
            with open(f"/proc/{pid}/environ", "rb") as f:
                if want in f.read().split(b"\0"):
                    return int(pid)
        except OSError:
            continue
    return None


def run_measured(args, env):
    """Runs args to the end; returns its stdout."""
    return subprocess.run(args, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          check=False).stdout.decode(errors="replace")


def mpg123_first_audio(url):
    start = time.monotonic()
    p = subprocess.Popen(["mpg123", "-q", "-s", url], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL)
    try:
        while True:
            chunk = p.stdout.read1(4096)
            if not chunk:
                return None
            samples = struct.unpack(f"<{len(chunk) // 2}h", chunk[:len(chunk) // 2 * 2])
            if any(samples):
                return (time.monotonic() - start) * 1000
    finally:
        p.kill()
        p.wait()


def engine_first_audio(probe, url, verbose=False):
    out = run_measured([WINE, probe, "first", url, SILENT_DEVICE], wine_env())
    for line in out.splitlines():
        if line.startswith("first_audio_ms"):
            if verbose:
                print("  ", line)
            return float(line.split()[1])
    return None


class PacedSink:
    """ALSA's default device as a WAV stream into a pipe, drained in real time."""

    def __init__(self, folder):
        self.fifo = os.path.join(folder, "sink.fifo")
        os.mkfifo(self.fifo)
        conf = os.path.join(folder, "asound.conf")
        with open(conf, "w") as f:
            f.write('pcm.!default {\n type file\n slave.pcm "null"\n'
                    f' file "{self.fifo}"\n format "wav"\n}}\n')
        with open("/usr/share/alsa/alsa.conf") as f:
            text = f.read().replace('"~/.asoundrc"', f'"{conf}"')
        self.alsa_conf = os.path.join(folder, "alsa.conf")
        with open(self.alsa_conf, "w") as f:
            f.write(text)
        self.bytes = 0
        self.thread = threading.Thread(target=self.drain, daemon=True)
        self.thread.start()

    def drain(self):
        while True:
            with open(self.fifo, "rb") as f:
                head = f.read(44)
                if len(head) < 44:
                    continue
                rate, byte_rate = struct.unpack("<II", head[24:32])
                start = time.monotonic()
                got = 0
                while True:
                    chunk = f.read1(4096) if hasattr(f, "read1") else f.read(4096)
                    if not chunk:
                        break
                    got += len(chunk)
                    self.bytes += len(chunk)
                    ahead = got / max(byte_rate, 1) - (time.monotonic() - start)
                    if ahead > 0.05:
                        time.sleep(ahead - 0.05)

    def env(self):
        return {"ALSA_CONFIG_PATH": self.alsa_conf}


def cpu_per_minute(args, env, warmup, seconds, server=None):
    """CPU per minute of a player in steady state: sampled after `warmup`
    seconds (start-up, connection and buffering done) over `seconds` more."""
    p = subprocess.Popen(args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(warmup)
        own0 = proc_cpu(p.pid)
        srv0 = proc_cpu(server) or 0 if server else 0
        time.sleep(seconds)
        own1 = proc_cpu(p.pid)
        srv1 = proc_cpu(server) or 0 if server else 0
    finally:
        p.terminate()
        p.wait()
    if own0 is None or own1 is None:
        raise RuntimeError(f"{args[0]} ended before the measurement")
    scale = 60.0 / seconds
    return (own1 - own0) * scale, ((own1 - own0) + (srv1 - srv0)) * scale


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--rounds", type=int, default=10)
    ap.add_argument("--seconds", type=int, default=30)
    ap.add_argument("--skip-cpu", action="store_true", help="only the first-audio figures")
    ap.add_argument("--verbose", action="store_true", help="every engine measurement")
    args = ap.parse_args()

    lib = os.path.join(BUILD, "playback", "bass")
    probe = build("probe", ["-L", lib, "-lbass-import"])
    tone = build("tone", ["-lwinmm"])
    subprocess.run([os.path.join(ROOT, "scripts", "wine-session"), "up"], env=wine_env(),
                   check=True, stdout=subprocess.DEVNULL)

    h = icecast_harness.Harness(title_every=0)
    try:
        h.start()
        url = h.url(icecast_harness.MP3_MOUNT)
        engine, mpg = [], []
        for _ in range(args.rounds):
            e = engine_first_audio(probe, url, args.verbose)
            m = mpg123_first_audio(url)
            if e is not None:
                engine.append(e)
            if m is not None:
                mpg.append(m)
        print(f"first audio, {args.rounds} rounds, 128 kbit/s MP3 from local Icecast:")
        for name, values in (("engine", engine), ("mpg123", mpg)):
            if values:
                print(f"  {name:8} median {statistics.median(values):7.1f} ms"
                      f"  min {min(values):7.1f}  max {max(values):7.1f}  (n={len(values)})")
        if engine and mpg:
            ratio = statistics.median(engine) / statistics.median(mpg)
            print(f"  engine / mpg123 median: {ratio:.2f}")

        if args.skip_cpu:
            return
        folder = tempfile.mkdtemp(prefix="engine-bench-")
        sink = PacedSink(folder)
        env = wine_env(sink.env())
        s = args.seconds
        w = WARMUP_S
        run_for = str(w + s + 5)
        print(f"CPU per minute of playback (steady state over {s} s, paced ALSA sink):")
        results = {}
        # A persistent wineserver for the prefix, so its share can be measured.
        subprocess.run(["/usr/lib/wine/wineserver", "-p"], env=env, check=False)
        server = prefix_wineserver(env["WINEPREFIX"])
        try:
            results["engine"] = cpu_per_minute([WINE, probe, "play", url, run_for, DEFAULT_DEVICE],
                                               env, w, s, server)
            results["waveOut tone"] = cpu_per_minute([WINE, tone, run_for], env, w, s, server)
        finally:
            subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=env, check=False)
        mpg_env = dict(os.environ, **sink.env())
        results["mpg123"] = cpu_per_minute(["mpg123", "-q", "-o", "alsa", url], mpg_env, w, s)
        for name, (own, total) in results.items():
            print(f"  {name:13} process {own:6.2f} s/min   with wineserver {total:6.2f} s/min")
        floor = results["waveOut tone"][1]
        above = results["engine"][1] - floor
        print(f"  engine above the waveOut floor: {above:.2f} s/min; mpg123: {results['mpg123'][1]:.2f} s/min")
    finally:
        h.close()


if __name__ == "__main__":
    main()
