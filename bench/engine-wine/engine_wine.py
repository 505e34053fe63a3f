#!/usr/bin/env python3
"""Wine benchmarks of the engine against mpg123 and ogg123 on a private Icecast.

Every player writes to ALSA's default device, which is a FIFO read at the
real-time byte rate (tools/radio/paced_sink.py), so all of them are paced
like a sound card and silence queued ahead of a sound is heard as a delay.

  first-audio  from the create (the engine: BASS_StreamCreateURL, buffered as
               the player does, then played; mpg123: its start) to the first
               loud sample heard on the device, alternating, medians of
               --rounds. The engine's device is open from BASS_Init, as in
               the player.
  https        the same first-audio figure for the MP3 mount over plain HTTP
               and over TLS from the same Icecast (its own TLS listener, a test
               root trusted in the prefix), alternating; and the handshake's
               cost: the create alone over HTTPS against HTTP, the first one
               in a process (cold) and the ones after it (warm)
  cpu          CPU time per minute of steady playback: the engine on the MP3,
               the AAC and the Ogg Vorbis mount, a plain waveOut tone program
               (Wine's output floor), mpg123 and ogg123.
  hls          (--hls, on its own) the first-audio figure of a live HLS station
               (tools/radio/hls_server.py: 1 s MPEG-TS segments of a 96 kbit/s
               AAC tone, joined fresh each round) for the engine and for
               ffmpeg (`ffmpeg -i URL -f alsa default`), alternating; and CPU
               per minute of the engine on it, and on 6 s segments, against the
               same AAC over ICY (the test radio's /stream.aac), alternating,
               --cpu-rounds each
  dropouts     (--dropouts, on its own) runs of digital silence of 5 ms or more
               in --dropout-seconds (60) of the MP3 tone played by the engine
               alone, beside Wine's own floor (the waveOut tone program), each
               while --busy (2) busy loops take the cores.

Needs a built win64 tree (dist/win64/bass.dll) and scripts/setup's packages.
Run: bench/engine-wine/engine_wine.py [--rounds 10] [--seconds 30]
     bench/engine-wine/engine_wine.py --hls [--rounds 10] [--seconds 30] [--cpu-rounds 3]
     bench/engine-wine/engine_wine.py --dropouts [--dropout-seconds 60] [--busy 2]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools", "radio"))
sys.path.insert(0, os.path.join(ROOT, "tools", "audio"))
import capture  # noqa: E402
import icecast_harness  # noqa: E402
import paced_sink  # noqa: E402
import tls_radio  # noqa: E402

BUILD = os.path.join(ROOT, "build", "win64")
DIST = os.path.join(ROOT, "dist", "win64")
OUT = os.path.join(BUILD, "bench-engine-wine")
CXX = "x86_64-w64-mingw32-g++-posix"
WINE = "/usr/lib/wine/wine64"
WARMUP_S = 5
LONG_SEGMENT_S = 6        # HLS segments as many broadcasters cut them
FIRST_AUDIO_PLAY_S = 3    # how long the engine plays in a first-audio round
LOUD_TIMEOUT_S = 15
DEFAULT_DEVICE = "-1"
SILENT_DEVICE = "0"
OPENS_PER_PROCESS = 5
TRUST_CA = os.path.join(BUILD, "wintests", "trust_ca.exe")
DROPOUT_SHORTEST_S = 0.005  # the shortest run of digital silence counted
DROPOUT_SETTLE_S = 2.0      # of sound before the count starts: past a fade-in
POLL_S = 0.05
NO_ISSUER_PORT = 1


def build(name, libs):
    src = os.path.join(HERE, name + ".cpp")
    exe = os.path.join(OUT, name + ".exe")
    if not os.path.exists(exe) or os.path.getmtime(exe) < os.path.getmtime(src):
        os.makedirs(OUT, exist_ok=True)
        # The engine's header takes the version figures from the build's
        # generated header.
        subprocess.run([CXX, "-O2", "-std=c++17", "-Wall", "-Wextra", "-Werror", "-static",
                        "-I", ROOT, "-I", os.path.join(BUILD, "generated"), src, "-o", exe] + libs,
                       check=True)
    return exe


def wine_env(extra=None, dist=DIST):
    env = dict(os.environ)
    env["WINEPREFIX"] = os.path.join(BUILD, "wineprefix")
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    env["WINEPATH"] = "Z:" + dist.replace("/", "\\")
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


def mpg123_first_audio(sink, url, env):
    return linux_first_audio(sink, ["mpg123", "-q", "-o", "alsa", url], env)


def linux_first_audio(sink, args, env):
    """From the start of a Linux player to its first loud sample on the sink."""
    sink.wait_idle(LOUD_TIMEOUT_S)
    sink.arm()
    start = time.monotonic()
    p = subprocess.Popen(args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        heard = sink.wait_loud(LOUD_TIMEOUT_S)
        return None if heard is None else (heard - start) * 1000
    finally:
        p.terminate()
        p.wait()


def engine_first_audio(sink, probe, url, env, verbose=False, settled=False):
    """settled: the create a second after BASS_Init, as in the player."""
    sink.wait_idle(LOUD_TIMEOUT_S)
    p = subprocess.Popen([WINE, probe, "first", url, str(FIRST_AUDIO_PLAY_S), DEFAULT_DEVICE]
                         + (["settled"] if settled else []),
                         env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        line = p.stdout.readline()
        if not line.startswith(b"start"):
            return None
        sink.arm()
        start = time.monotonic()
        heard = sink.wait_loud(LOUD_TIMEOUT_S)
        rest = p.stdout.read().decode(errors="replace").strip()
        if verbose:
            print(f"   heard_ms {(heard - start) * 1000 if heard else -1:.1f} {rest}")
        return None if heard is None else (heard - start) * 1000
    finally:
        p.kill()
        p.wait()


class BusyLoops:
    """Processes that spin without end, as other work taking the cores."""

    def __init__(self, count):
        self.count = count
        self.procs = []

    def __enter__(self):
        self.procs = [subprocess.Popen([sys.executable, "-c", "while True: pass"])
                      for _ in range(self.count)]
        return self

    def __exit__(self, *exc):
        for p in self.procs:
            p.kill()
            p.wait()
        return False


def heard_bytes(sink):
    with sink.lock:
        return len(sink.heard)


def wait_heard(sink, count, patience_s):
    """Polls until the sink (kept) holds count bytes; False if it did not in time."""
    deadline = time.monotonic() + patience_s
    while heard_bytes(sink) < count:
        if time.monotonic() > deadline:
            return False
        time.sleep(POLL_S)
    return True


def player_dropouts(sink, start, stop, seconds):
    """Runs of digital silence of DROPOUT_SHORTEST_S or more, as (start,
    length) seconds, in `seconds` of what one player plays, counted from
    DROPOUT_SETTLE_S after its first sound; and the seconds looked at. None
    when it was not heard. start() starts the player, stop(player) ends it;
    the sink must keep what it hears."""
    sink.wait_idle(LOUD_TIMEOUT_S)
    sink.arm()
    player = start()
    try:
        if sink.wait_loud(LOUD_TIMEOUT_S) is None:
            return None
        rate, channels = sink.format
        byte_rate = rate * channels * 2
        settled = heard_bytes(sink) + int(DROPOUT_SETTLE_S * byte_rate)
        if not wait_heard(sink, settled, 2 * DROPOUT_SETTLE_S + LOUD_TIMEOUT_S):
            return None
        first = heard_bytes(sink)
        wait_heard(sink, first + int(seconds * byte_rate), 2 * seconds)
        with sink.lock:
            data = bytes(sink.heard[first:])
    finally:
        stop(player)
    sound = capture.from_pcm16(data, rate, channels)
    return capture.silences(sound, shortest_s=DROPOUT_SHORTEST_S), sound.seconds()


def dropouts_report(results, busy):
    """results: (name, player_dropouts' result) per player."""
    shortest = DROPOUT_SHORTEST_S * 1000
    print(f"runs of digital silence of {shortest:.0f} ms or more while {busy} busy loops run"
          f" (a dropout of the checks: {capture.DROPOUT_S * 1000:.0f} ms or more):")
    for name, result in results:
        if result is None:
            print(f"  {name:14} not heard")
            continue
        runs, seconds = result
        lengths = sorted((length * 1000 for _, length in runs), reverse=True)
        long_ones = sum(1 for x in lengths if x >= capture.DROPOUT_S * 1000)
        print(f"  {name:14} {len(runs):4d} runs in {seconds:5.1f} s, {long_ones} of them dropouts;"
              f" silent {sum(lengths):6.1f} ms in all, longest {max(lengths, default=0):5.1f} ms")
        if runs:
            print("                 " + ", ".join(f"{length * 1000:.0f} ms at {at:.2f} s"
                                                  for at, length in runs[:20])
                  + (" ..." if len(runs) > 20 else ""))


def dropout_run_for(seconds):
    """How long a player given the dropout count must play: it is stopped
    once the count is done."""
    return str(int(seconds + 3 * DROPOUT_SETTLE_S + LOUD_TIMEOUT_S))


def wine_player(args, env):
    """start/stop pair for player_dropouts of a Windows program."""
    return (lambda: subprocess.Popen([WINE] + args, env=env, stdout=subprocess.DEVNULL),
            lambda p: (p.kill(), p.wait()))


def measure_dropouts(sink, players, seconds, busy):
    """player_dropouts of each of players, (name, (start, stop)), in turn
    while `busy` busy loops run: (name, result) each."""
    results = []
    with BusyLoops(busy):
        for name, (start, stop) in players:
            results.append((name, player_dropouts(sink, start, stop, seconds)))
    return results


def median_line(name, values, unit="ms"):
    if not values:
        return f"  {name:22} no measurement"
    return (f"  {name:22} median {statistics.median(values):7.1f} {unit}"
            f"  min {min(values):7.1f}  max {max(values):7.1f}  (n={len(values)})")


def create_times(probe, env, http, https, rounds):
    """Times of the create alone, in processes of their own: the first HTTPS
    create after one HTTP create (cold: SChannel loads then), and the warm
    ones that follow, alternating with HTTP."""
    cold, warm_https, warm_http = [], [], []
    for _ in range(rounds):
        out = subprocess.run([WINE, probe, "open", http, str(OPENS_PER_PROCESS + 1), SILENT_DEVICE,
                              https], env=env, capture_output=True, text=True).stdout
        times = [(line.split()[1], float(line.split()[2])) for line in out.splitlines()
                 if line.startswith("open ")]
        secure = [t for u, t in times if u == https]
        plain = [t for u, t in times if u == http]
        if secure:
            cold.append(secure[0])
            warm_https += secure[1:]
        warm_http += plain[1:]
    return cold, warm_https, warm_http


def settled_times(probe, env, url, rounds):
    """The first create of a process a second after BASS_Init, as a station
    picked after the player's start-up."""
    firsts = []
    for _ in range(rounds):
        out = subprocess.run([WINE, probe, "settled", url, "1", SILENT_DEVICE], env=env,
                             capture_output=True, text=True).stdout
        firsts += [float(line.split()[2]) for line in out.splitlines() if line.startswith("open ")]
    return firsts


def handshake_report(title, warm_https, warm_http, first_https, first_http, cold=None):
    """Medians of create times and what TLS adds: in creates after the first
    of a process, and in a first one a second after BASS_Init (as a station
    picked after the player's start-up); cold is a first https create right
    after an http one."""
    print(title)
    lines = [("https, later", warm_https), ("http, later", warm_http),
             ("https, first, settled", first_https), ("http, first, settled", first_http)]
    if cold is not None:
        lines.append(("https, first, at once", cold))
    for name, values in lines:
        print(median_line(name, values))
    for name, secure, plain in (("later creates", warm_https, warm_http),
                                ("a first create a second after BASS_Init", first_https, first_http),
                                ("a first create right after an http one", cold or [], warm_http)):
        if secure and plain:
            print(f"  handshake cost, {name}: "
                  f"{statistics.median(secure) - statistics.median(plain):.1f} ms")


def radio_handshake(probe, env, folder, rounds):
    """The handshake's cost where the server answers at once: our test radio
    directly and through its TLS front (which relays in Python, so its own
    hop counts against TLS). Creates after the first in a process, and the
    first one a second after BASS_Init."""
    radio = subprocess.Popen([sys.executable, os.path.join(ROOT, "tools", "radio", "radio_server.py"),
                              "--media", os.path.join(folder, "radio-media")],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    front = None
    ca = None
    try:
        port = int(radio.stdout.readline().split()[1])
        os.makedirs(os.path.join(folder, "radio-tls"), exist_ok=True)
        front = tls_radio.TlsFront(port, os.path.join(folder, "radio-tls"))
        ca = "Z:" + front.ca.replace("/", "\\")
        subprocess.run([WINE, TRUST_CA, "add", ca], env=env, check=True)
        http = f"http://127.0.0.1:{port}/stream.mp3"
        https = f"https://localhost:{front.port('good')}/stream.mp3"
        _, warm_https, warm_http = create_times(probe, env, http, https, rounds)
        first_https = settled_times(probe, env, https, rounds)
        first_http = settled_times(probe, env, http, rounds)
        handshake_report(f"the create alone against the test radio (answers at once), {rounds} processes:",
                         warm_https, warm_http, first_https, first_http)
    finally:
        if ca:
            subprocess.run([WINE, TRUST_CA, "remove", ca], env=env, check=False)
        if front:
            front.close()
        radio.terminate()
        radio.wait()


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


def start_server(script, folder):
    """One of tools/radio's servers on a free port: (process, port)."""
    p = subprocess.Popen([sys.executable, os.path.join(ROOT, "tools", "radio", script), "--media", folder],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = p.stdout.readline()
    if not line.startswith("PORT "):
        p.kill()
        raise RuntimeError(f"{script} did not start")
    return p, int(line.split()[1])


def hls_bench(args, probe, sink, env, linux_env, folder):
    """First audio of a live HLS station, the engine against ffmpeg, and the
    engine's CPU per minute on it against the same AAC over ICY."""
    media_folder = os.path.join(folder, "media")
    os.makedirs(media_folder, exist_ok=True)
    hls, hls_port = start_server("hls_server.py", media_folder)
    radio, radio_port = start_server("radio_server.py", media_folder)
    try:
        def live(tag, seconds=1):
            # A fresh live window each time: joined as a listener who just came.
            return (f"http://127.0.0.1:{hls_port}/mux.m3u8?window=6&seconds={seconds}"
                    f"&id={tag}-{time.monotonic_ns()}")
        heard = {"engine, at once": [], "engine, settled": [], "ffmpeg": []}
        for _ in range(args.rounds):
            # The engine's create right after BASS_Init, and a second after
            # it as a station picked after the player's start-up.
            for name, settled in (("engine, at once", False), ("engine, settled", True)):
                heard[name].append(engine_first_audio(sink, probe, live("engine"), env, args.verbose, settled))
            heard["ffmpeg"].append(linux_first_audio(
                sink, ["ffmpeg", "-nostdin", "-loglevel", "quiet", "-i", live("ffmpeg"), "-f", "alsa", "default"],
                linux_env))
        print(f"first loud sample heard, {args.rounds} rounds, live HLS (1 s MPEG-TS segments, 96 kbit/s AAC)"
              " from the local HLS server, device read at real-time speed:")
        for name, values in heard.items():
            heard[name] = [v for v in values if v is not None]
            print(median_line(name, heard[name], "ms"))
        for name in ("engine, at once", "engine, settled"):
            if heard[name] and heard["ffmpeg"]:
                print(f"  {name} / ffmpeg median: "
                      f"{statistics.median(heard[name]) / statistics.median(heard['ffmpeg']):.2f}")
        if args.skip_cpu:
            return
        s, w = args.seconds, WARMUP_S
        run_for = str(w + s + 5)
        icy = f"http://127.0.0.1:{radio_port}/stream.aac"
        # 1 s segments as the first-audio figure's, and 6 s ones as many
        # broadcasters use: each segment costs a list reload and a request.
        over = {"HLS, 1 s segments": [], f"HLS, {LONG_SEGMENT_S} s segments": [], "ICY": []}
        urls = {"HLS, 1 s segments": lambda: live("cpu"),
                f"HLS, {LONG_SEGMENT_S} s segments": lambda: live("cpu-long", LONG_SEGMENT_S),
                "ICY": lambda: icy}
        subprocess.run(["/usr/lib/wine/wineserver", "-p"], env=env, check=False)
        server = prefix_wineserver(env["WINEPREFIX"])
        try:
            for _ in range(args.cpu_rounds):
                for name, url in urls.items():
                    over[name].append(cpu_per_minute([WINE, probe, "play", url(), run_for, DEFAULT_DEVICE],
                                                     env, w, s, server)[1])
        finally:
            subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=env, check=False)
        print(f"CPU per minute of the same 96 kbit/s AAC tone, process and wineserver, steady state over {s} s,"
              f" {args.cpu_rounds} rounds each:")
        for name, values in over.items():
            print(median_line(f"engine, {name}", values, "s/min"))
        for name, values in over.items():
            if name != "ICY" and values and over["ICY"]:
                print(f"  {name} / ICY median: {statistics.median(values) / statistics.median(over['ICY']):.2f}")
    finally:
        for p in (hls, radio):
            p.terminate()
            p.wait()


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--rounds", type=int, default=10)
    ap.add_argument("--seconds", type=int, default=30)
    ap.add_argument("--skip-cpu", action="store_true", help="only the first-audio figures")
    ap.add_argument("--verbose", action="store_true", help="every engine measurement")
    ap.add_argument("--dist", default=DIST, help="folder of the bass.dll to measure")
    ap.add_argument("--dropouts", action="store_true", help="only the dropout count")
    ap.add_argument("--dropout-seconds", type=int, default=60)
    ap.add_argument("--busy", type=int, default=2, help="busy loops beside the dropout count")
    ap.add_argument("--hls", action="store_true", help="only the HLS figures")
    ap.add_argument("--cpu-rounds", type=int, default=3, help="CPU measurements of each kind with --hls")
    args = ap.parse_args()

    lib = os.path.join(BUILD, "engine", "include", "bass")
    probe = build("probe", ["-L", lib, "-lbass-import"])
    tone = build("tone", ["-lwinmm"])
    subprocess.run([os.path.join(ROOT, "scripts", "wine-session"), "up"], env=wine_env(),
                   check=True, stdout=subprocess.DEVNULL)

    folder = tempfile.mkdtemp(prefix="engine-bench-")
    # Only the good certificate is used: no issuer is ever fetched.
    certificates = tls_radio.make_certificates(folder, NO_ISSUER_PORT)
    h = icecast_harness.Harness(title_every=0, aac=True, tls_pem=certificates["good"])
    sink = paced_sink.PacedSink(folder, keep=args.dropouts)
    env = wine_env(sink.env(), os.path.abspath(args.dist))
    linux_env = dict(os.environ, **sink.env())
    try:
        if args.hls:
            hls_bench(args, probe, sink, env, linux_env, folder)
            return
        h.start()
        url = h.url(icecast_harness.MP3_MOUNT)
        if args.dropouts:
            run_for = dropout_run_for(args.dropout_seconds)
            dropouts_report(measure_dropouts(sink, [
                ("engine alone", wine_player([probe, "play", url, run_for, DEFAULT_DEVICE], env)),
                ("waveOut tone", wine_player([tone, run_for], env))], args.dropout_seconds, args.busy),
                args.busy)
            return
        ogg_url = h.url(icecast_harness.OGG_MOUNT)
        engine, mpg = [], []
        for _ in range(args.rounds):
            e = engine_first_audio(sink, probe, url, env, args.verbose)
            m = mpg123_first_audio(sink, url, linux_env)
            if e is not None:
                engine.append(e)
            if m is not None:
                mpg.append(m)
        print(f"first loud sample heard, {args.rounds} rounds, 128 kbit/s MP3 from local Icecast,"
              " device read at real-time speed:")
        for name, values in (("engine", engine), ("mpg123", mpg)):
            if values:
                print(f"  {name:8} median {statistics.median(values):7.1f} ms"
                      f"  min {min(values):7.1f}  max {max(values):7.1f}  (n={len(values)})")
                if args.verbose:
                    print("           " + " ".join(f"{v:.0f}" for v in values))
        if engine and mpg:
            ratio = statistics.median(engine) / statistics.median(mpg)
            print(f"  engine / mpg123 median: {ratio:.2f}")

        ca = "Z:" + os.path.join(folder, "test-root.der").replace("/", "\\")
        subprocess.run([WINE, TRUST_CA, "add", ca], env=env, check=True)
        try:
            secure_url = h.tls_url(icecast_harness.MP3_MOUNT)
            # At once after BASS_Init (the TLS warm-up still running) and a
            # second after it, as a station picked after the player's start-up.
            heard = {(scheme, settled): [] for scheme in ("http", "https") for settled in (False, True)}
            for _ in range(args.rounds):
                for settled in (False, True):
                    for scheme, address in (("http", url), ("https", secure_url)):
                        value = engine_first_audio(sink, probe, address, env, args.verbose, settled)
                        if value is not None:
                            heard[(scheme, settled)].append(value)
            print(f"first loud sample heard, the engine, {args.rounds} rounds, same Icecast:")
            for settled, when in ((False, "at once"), (True, "settled")):
                plain, secure = heard[("http", settled)], heard[("https", settled)]
                print(median_line(f"http, {when}", plain))
                print(median_line(f"https, {when}", secure))
                if plain and secure:
                    extra = statistics.median(secure) - statistics.median(plain)
                    print(f"  https - http median, {when}: {extra:.1f} ms")
            cold, warm_https, warm_http = create_times(probe, env, url, secure_url, args.rounds)
            handshake_report(f"the create alone (connect, TLS, head, first audio), {args.rounds} processes:",
                             warm_https, warm_http, settled_times(probe, env, secure_url, args.rounds),
                             settled_times(probe, env, url, args.rounds), cold)
        finally:
            subprocess.run([WINE, TRUST_CA, "remove", ca], env=env, check=False)
        radio_handshake(probe, env, folder, args.rounds)

        if args.skip_cpu:
            return
        s = args.seconds
        w = WARMUP_S
        run_for = str(w + s + 5)
        print(f"CPU per minute of playback (steady state over {s} s, paced ALSA sink):")
        results = {}
        # A persistent wineserver for the prefix, so its share can be measured.
        subprocess.run(["/usr/lib/wine/wineserver", "-p"], env=env, check=False)
        server = prefix_wineserver(env["WINEPREFIX"])
        try:
            results["engine MP3"] = cpu_per_minute(
                [WINE, probe, "play", url, run_for, DEFAULT_DEVICE], env, w, s, server)
            results["engine AAC"] = cpu_per_minute(
                [WINE, probe, "play", h.url(icecast_harness.AAC_MOUNT), run_for, DEFAULT_DEVICE],
                env, w, s, server)
            results["engine Ogg"] = cpu_per_minute(
                [WINE, probe, "play", ogg_url, run_for, DEFAULT_DEVICE], env, w, s, server)
            results["waveOut tone"] = cpu_per_minute([WINE, tone, run_for], env, w, s, server)
        finally:
            subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=env, check=False)
        results["mpg123"] = cpu_per_minute(["mpg123", "-q", "-o", "alsa", url], linux_env, w, s)
        results["ogg123"] = cpu_per_minute(["ogg123", "-q", "-d", "alsa", ogg_url], linux_env, w, s)
        for name, (own, total) in results.items():
            print(f"  {name:13} process {own:6.2f} s/min   with wineserver {total:6.2f} s/min")
        floor = results["waveOut tone"][1]
        for kind, other in (("MP3", "mpg123"), ("Ogg", "ogg123")):
            above = results[f"engine {kind}"][1] - floor
            print(f"  engine {kind} above the waveOut floor: {above:.2f} s/min;"
                  f" {other}: {results[other][1]:.2f} s/min")
        aac_above = results["engine AAC"][1] - floor
        mp3_above = results["engine MP3"][1] - floor
        print(f"  engine AAC above the floor: {aac_above:.2f} s/min"
              f" against MP3 {mp3_above:.2f} s/min")
    finally:
        h.close()
        sink.close()


if __name__ == "__main__":
    main()
