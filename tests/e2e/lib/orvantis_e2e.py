"""The whole program under Wine for the end-to-end tests: local radio servers,
a station directory of the test's own, the program installed in a folder of
its own with its sound captured to a file, and tools/driver kept running to
work the program's window from outside.

The environment comes from CTest (tests/e2e/CMakeLists.txt): WINEPREFIX,
ORVANTIS_DIST, ORVANTIS_BITS, ORVANTIS_CAPTION, ORVANTIS_DRIVER,
ORVANTIS_E2E_WORK and, for the taskbar, ORVANTIS_TASKBAR_RECORDER.
"""
import atexit
import os
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools", "radio"))
sys.path.insert(0, os.path.join(ROOT, "tools", "audio"))
import capture  # noqa: E402
import icecast_harness  # noqa: E402
import tls_radio  # noqa: E402

WINE_EXEC = os.path.join(ROOT, "scripts", "wine-exec")
POLL_S = 0.05
PATIENCE_S = 30.0
# A window that answers within this is answering at once; a stall (Wine
# waiting for something, say) takes seconds.
AT_ONCE_S = 1.0

# Controls and commands of the main window.
IDC_STATIONS = 3004
IDC_LEFT_METER, IDC_RIGHT_METER = 3006, 3008
IDC_PLAY = 3009
IDC_NAME, IDC_TITLE, IDC_BITRATE = 3012, 3014, 3016
IDC_VOLUME, IDC_VOLUME_VALUE = 3019, 3020
IDC_BALANCE, IDC_BALANCE_VALUE = 3022, 3023
IDM_EXIT = 4000
VK_RETURN, VK_ESCAPE = 0x0D, 0x1B


def env(name):
    value = os.environ.get(name)
    if not value:
        raise SystemExit(f"{name} is not set: run this through CTest")
    return value


def wait_until(check, what, patience=PATIENCE_S):
    """Polls check() until it returns something true; fails after patience."""
    deadline = time.monotonic() + patience
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(POLL_S)


class Failures:
    """Collects failed expectations so one case reports them all."""

    def __init__(self):
        self.items = []

    def expect(self, ok, text):
        print(("ok    " if ok else "FAIL  ") + text, flush=True)
        if not ok:
            self.items.append(text)
        return ok

    def equal(self, got, want, text):
        return self.expect(got == want, f"{text}: {got!r}" + ("" if got == want else f", want {want!r}"))


def media_folder(work):
    """The generated test tones: the build's folder that keeps them between
    cases (ORVANTIS_TEST_MEDIA), else one of the case's own."""
    return os.environ.get("ORVANTIS_TEST_MEDIA") or os.path.join(work, "media")


class RadioServer:
    """tools/radio/radio_server.py (or another server of tools/radio that
    says its port the same way) on a free port."""

    def __init__(self, work, script="radio_server.py", media=None):
        self.proc = subprocess.Popen(
            [sys.executable, os.path.join(ROOT, "tools", "radio", script),
             "--media", media or media_folder(work)],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        line = self.proc.stdout.readline()
        if not line.startswith("PORT "):
            raise RuntimeError(f"{script} did not start: {line}")
        self.port = int(line.split()[1])

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def close(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


class TlsFront:
    """tools/radio/tls_radio.py in front of the radio server, its test root
    trusted in the prefix's Root store (by trust_ca.exe of the build tree)
    while it runs."""

    def __init__(self, work, radio):
        folder = os.path.join(work, "tls")
        os.makedirs(folder, exist_ok=True)
        self.front = tls_radio.TlsFront(radio.port, folder)
        self.helper = os.path.join(os.path.dirname(env("WINEPREFIX")), "wintests", "trust_ca.exe")
        self.ca = "Z:" + self.front.ca.replace("/", "\\")
        self.trusted = self.trust("add") == 0
        if not self.trusted:
            self.front.close()
            raise RuntimeError("the test root could not be trusted")

    def trust(self, how):
        return subprocess.run([WINE_EXEC, self.helper, how, self.ca],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode

    def url(self, path, certificate="good"):
        return f"https://localhost:{self.front.port(certificate)}{path}"

    def close(self):
        if self.trusted:
            self.trust("remove")
        self.front.close()


class Directory:
    """tools/dirserver on a free port, serving a list of (name, address)
    stations as channels.xml (or on the port given: the program's built-in
    address); url is the address a test build of the program is told in
    ORVANTIS_DIRECTORY_URL."""

    def __init__(self, work, stations, port=0):
        root = os.path.join(work, "www")
        path = os.path.join(root, "dwl", "programs", "orvantis")
        os.makedirs(path, exist_ok=True)
        with open(os.path.join(path, "channels.xml"), "w", encoding="utf-8") as f:
            f.write(channels_xml(stations))
        self.serve(root, port)

    @classmethod
    def serving(cls, root, port=0):
        """A server of a folder that already holds the directory."""
        directory = cls.__new__(cls)
        directory.serve(root, port)
        return directory

    def serve(self, root, port):
        self.root = root
        self.proc = subprocess.Popen(
            [sys.executable, os.path.join(ROOT, "tools", "dirserver", "dirserver.py"),
             "--root", self.root, "--port", str(port)],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        line = self.proc.stdout.readline()
        if not line.startswith("port "):
            raise RuntimeError(f"directory server did not start: {line}")
        self.url = f"http://127.0.0.1:{int(line.split()[1])}/dwl/programs/orvantis/channels.xml"

    def close(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


def channels_xml(stations):
    def attr(text):
        return (text.replace("&", "&amp;").replace('"', "&quot;").replace("<", "&lt;"))
    rows = "".join(
        f'<station><id value="{i + 1}"/><name value="{attr(name)}"/>'
        f'<serverlist><server url="{attr(url)}"/></serverlist></station>'
        for i, (name, url) in enumerate(stations))
    return ('<?xml version="1.0" encoding="UTF-8"?><orvantisclient version="3">'
            f"<stationlist>{rows}</stationlist></orvantisclient>")


class Driver:
    """One driver.exe kept running (its serve mode): a command per line."""

    def __init__(self):
        self.proc = subprocess.Popen([WINE_EXEC, env("ORVANTIS_DRIVER"), "serve"],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True, encoding="utf-8",
                                     errors="replace")

    def call(self, *args):
        """(exit code, output lines) of one driver command."""
        self.proc.stdin.write("\t".join(str(a) for a in args) + "\n")
        self.proc.stdin.flush()
        lines = []
        while True:
            line = self.proc.stdout.readline()
            if not line:
                raise RuntimeError("the driver ended")
            line = line.rstrip("\r\n")
            if line.startswith("\x01 "):
                return int(line[2:]), lines
            lines.append(line)

    def one(self, *args):
        rc, lines = self.call(*args)
        return lines[0] if rc == 0 and lines else None

    def close(self):
        try:
            self.proc.stdin.close()
            self.proc.wait(timeout=10)
        except (OSError, subprocess.TimeoutExpired):
            self.proc.kill()


class Program:
    """The installed layout in a folder of the test's own, started under Wine
    with ALSA's default device heard by a sound card stand-in that writes
    what it heard into played.wav there (unless capture is off: then the
    machine's own device plays it).

    The stand-in (tools/radio/paced_sink.py) takes the sound at the rate a
    card plays it. ALSA's bare file device takes it as fast as it comes (a
    plain waveOut program runs 2.4 times real time into it): the engine then
    keeps to the wall clock on its own, and Wine fills in a period (10 ms) of
    silence whenever it runs dry between the engine's blocks. Such captures
    held bursts of those gaps, which no card would play."""

    def __init__(self, work, name, ini=None, capture=True):
        self.folder = os.path.join(work, name)
        shutil.rmtree(self.folder, ignore_errors=True)
        shutil.copytree(env("ORVANTIS_DIST"), self.folder)
        self.exe = os.path.join(self.folder, f"Orvantis{env('ORVANTIS_BITS')}.exe")
        self.ini = os.path.join(self.folder, "orvantis.ini")
        if ini is not None:
            with open(self.ini, "w", newline="\r\n") as f:
                f.write("[orvantis]\n" + "".join(f"{k}={v}\n" for k, v in ini.items()))
        self.wav = os.path.join(self.folder, "played.wav")
        self.sink = self.alsa = None
        if capture:
            self.sink = subprocess.Popen(
                [sys.executable, os.path.join(ROOT, "tools", "radio", "paced_sink.py"),
                 "--dir", os.path.join(self.folder, "alsa"), "--wav", self.wav],
                stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
            line = self.sink.stdout.readline()
            if not line.startswith("ALSA_CONFIG_PATH "):
                raise RuntimeError(f"the sound card stand-in did not start: {line}")
            self.alsa = line.split(" ", 1)[1].strip()
            atexit.register(self.end_capture)  # a caller that never ends it leaves nothing behind
        self.proc = None
        self.main = None
        # Given to the program besides the test's own (the directory's address, say).
        self.environment = {}

    def start(self, driver):
        environment = dict(os.environ, **self.environment)
        if self.alsa:
            environment["ALSA_CONFIG_PATH"] = self.alsa
        self.proc = subprocess.Popen([WINE_EXEC, self.exe], env=environment,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.main = driver.one("wait", "--process", self.folder_name(), "--class", "#32770",
                               "--caption", env("ORVANTIS_CAPTION"), "--timeout", "60000")
        if not self.main:
            raise AssertionError("the main window did not appear")
        wait_until(lambda: (driver.one("rows", self.main, IDC_STATIONS) or "").startswith("count ")
                   and driver.one("rows", self.main, IDC_STATIONS) != "count 0", "the station list")
        return self.main

    def folder_name(self):
        return os.path.basename(self.folder)

    def wait_exit(self, patience=PATIENCE_S):
        try:
            return self.proc.wait(timeout=patience)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGKILL)
            self.proc.wait()

    def end_capture(self):
        """Stops the stand-in once it has written all it heard."""
        if self.sink and self.sink.poll() is None:
            self.sink.stdin.close()
            try:
                self.sink.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.sink.kill()
                self.sink.wait()

    def read_ini(self):
        values = {}
        try:
            with open(self.ini, encoding="latin-1") as f:
                for line in f:
                    if "=" in line:
                        key, value = line.strip().split("=", 1)
                        values[key] = value
        except FileNotFoundError:
            pass
        return values

    def capture(self):
        return capture.read(self.wav)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def pe_bits(path):
    """32 or 64: the architecture a Windows binary was built for."""
    with open(path, "rb") as f:
        head = f.read(4096)
    at = int.from_bytes(head[0x3C:0x40], "little")
    return 64 if int.from_bytes(head[at + 4:at + 6], "little") == 0x8664 else 32


class TaskbarRecorder:
    """tests/e2e/taskbar's recording taskbar list object, registered in the
    test prefix under the shell's class id for as long as it runs (Wine reads
    classes from the machine's keys only), in the registry view of the
    program's architecture. A program started with environment() writes what
    its taskbar object is told into a file of the test's own; calls() reads
    it."""

    KEY = r"HKLM\Software\Classes\CLSID\{56FDF344-FD6D-11D0-958A-006097C9A090}\InprocServer32"

    def __init__(self, work):
        self.log = os.path.join(work, "taskbar.log")
        dll = env("ORVANTIS_TASKBAR_RECORDER")
        self.view = ["/reg:32"] if pe_bits(dll) == 32 else ["/reg:64"]
        self.previous = self.registered()
        self.register(windows_path(dll))
        self.seen = 0

    def reg(self, *args):
        return subprocess.run([WINE_EXEC, "reg", *args, *self.view], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True, errors="replace")

    def registered(self):
        for line in self.reg("query", self.KEY, "/ve").stdout.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) == 3 and parts[1] == "REG_SZ":
                return parts[2]
        return None

    def register(self, path):
        if self.reg("add", self.KEY, "/ve", "/d", path, "/f").returncode != 0:
            raise RuntimeError("the recording taskbar object could not be registered")

    def environment(self):
        return {"ORVANTIS_TASKBAR_LOG": windows_path(self.log)}

    def calls(self, count):
        """The next count calls the object was told, waited for."""
        def lines():
            try:
                with open(self.log, encoding="utf-8") as f:
                    return f.read().splitlines()
            except FileNotFoundError:
                return []
        wait_until(lambda: len(lines()) >= self.seen + count, f"{count} taskbar calls")
        got = lines()[self.seen:]
        self.seen += len(got)
        return got

    def close(self):
        if self.previous is not None:
            self.register(self.previous)
        else:
            self.reg("delete", self.KEY, "/ve", "/f")


_crashes_quiet = False


def quiet_crashes():
    """Makes a program that crashes in the test prefix end at once, so the
    case fails then, instead of Wine's crash dialog holding it, and every
    look at its window, until the case times out."""
    global _crashes_quiet
    if _crashes_quiet:
        return
    done = subprocess.run([WINE_EXEC, "reg", "add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog",
                           "/t", "REG_DWORD", "/d", "0", "/f"], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
    if done.returncode != 0:
        raise RuntimeError("Wine's crash dialog could not be turned off in the test prefix")
    _crashes_quiet = True


class Session:
    """Servers, directory, driver and program of one test case; everything
    started is stopped on exit, the program first."""

    def __init__(self, name, stations, icecast=False, ini=None, taskbar=False):
        self.work = os.path.join(env("ORVANTIS_E2E_WORK"), name)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.name = name
        self.station_spec = stations
        self.icecast_wanted = icecast
        self.ini = ini
        self.taskbar_wanted = taskbar
        self.radio = self.icecast = self.directory = self.driver = self.program = None
        self.tls = self.taskbar = self.hls = None

    def __enter__(self):
        try:
            return self.start()
        except BaseException:
            self.__exit__(None, None, None)  # what did start is stopped
            raise

    def start(self):
        self.radio = RadioServer(self.work)
        if self.icecast_wanted:
            self.icecast = icecast_harness.Harness(title_every=3.0,
                                                   media_dir=media_folder(self.work))
            self.icecast.start()
        stations = [(n, self.resolve(u)) for n, u in self.station_spec]
        self.directory = Directory(self.work, stations)
        quiet_crashes()
        self.driver = Driver()
        self.program = Program(self.work, "Orvantis-" + self.name, self.ini)
        self.program.environment["ORVANTIS_DIRECTORY_URL"] = self.directory.url
        if self.taskbar_wanted:
            self.taskbar = TaskbarRecorder(self.work)
            self.program.environment.update(self.taskbar.environment())
        self.program.start(self.driver)
        return self

    def resolve(self, url):
        """'radio:/path', 'icecast:/path' and 'hls:/path' name the local
        servers, 'tls:/path' the radio server over HTTPS."""
        if url.startswith("radio:"):
            return self.radio.url(url[len("radio:"):])
        if url.startswith("hls:"):
            if not self.hls:
                # Its segments are made for the case, in a folder of its own.
                self.hls = RadioServer(self.work, "hls_server.py", os.path.join(self.work, "hls"))
            return self.hls.url(url[len("hls:"):])
        if url.startswith("icecast:"):
            return self.icecast.url(url[len("icecast:"):])
        if url.startswith("tls:"):
            # The radio server over HTTPS, with a certificate the prefix trusts.
            if not self.tls:
                self.tls = TlsFront(self.work, self.radio)
            return self.tls.url(url[len("tls:"):])
        return url

    def __exit__(self, *exc):
        if self.program:
            if self.program.proc and self.program.proc.poll() is None and self.program.main:
                self.driver.call("close", self.program.main)
                if self.program.wait_exit(10) is None:
                    self.program.kill()
            self.program.kill()
            self.program.end_capture()
        for part in (self.driver, self.directory, self.tls, self.taskbar, self.hls):
            if part:
                part.close()
        if self.icecast:
            self.icecast.close()
        if self.radio:
            self.radio.close()
        return False

    # The main window, by what a user does and sees.
    @property
    def main(self):
        return self.program.main

    def text(self, control):
        return self.driver.one("wtext", self.main, control)

    def double_click(self, row):
        self.driver.call("dblclick", self.main, IDC_STATIONS, row)

    def rows(self):
        rc, lines = self.driver.call("rows", self.main, IDC_STATIONS)
        return lines

    def look(self):
        """(seconds, title) of one look at the window as a user's eye takes
        it: its title and the text of every control."""
        began = time.monotonic()
        rc, lines = self.driver.call("texts", self.main)
        return time.monotonic() - began, (lines[0] if rc == 0 and lines else None)

    def responsive(self, patience_ms=1000):
        """The window answers a message within patience_ms."""
        rc, _ = self.driver.call("send", self.main, 0, 0, 0, "--timeout", patience_ms)
        return rc == 0


def run_cases(cases):
    """Runs the case named on the command line; exits 1 when it failed."""
    if len(sys.argv) != 2 or sys.argv[1] not in cases:
        print("cases: " + ", ".join(sorted(cases)))
        return 2
    failures = Failures()
    try:
        cases[sys.argv[1]](failures)
    except AssertionError as e:
        failures.expect(False, str(e))
    if failures.items:
        print(f"{len(failures.items)} failed:\n  " + "\n  ".join(failures.items))
        return 1
    return 0
