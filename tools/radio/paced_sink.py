#!/usr/bin/env python3
"""A sound card stand-in: ALSA's default device as WAV into a FIFO that is read
at the real-time byte rate, as a card would play it.

The bare file plugin takes audio as fast as it is written, so silence queued
ahead of a sound drains at once and a player's start-up delay cannot be seen.
Here the FIFO's buffer is shrunk to one page and the reader takes no more than
the byte rate, so what a player queues is heard when a card would play it.
Every open of the device is one WAV stream on the FIFO; the reader takes them
one after another and keeps what it heard.

As a module: PacedSink(folder) for benchmarks (arm(), then wait_loud()).
As a program, for tests:
  paced_sink.py --dir DIR --wav OUT.wav [--pause-file PATH]
writes DIR/alsa.conf, prints "ALSA_CONFIG_PATH <path>", and writes everything
heard to OUT.wav (rewritten as it grows), and to OUT.wav.segments a line
"<first frame> <rate> <channels>" for each stream in it (frames counted as
16-bit stereo). While PATH exists the reader stops reading, like a card that
hangs. Runs until stdin closes or it is terminated.
"""
import argparse
import array
import fcntl
import os
import signal
import struct
import sys
import threading
import time

WAV_HEAD = 44
PIPE_BYTES = 4096         # one page: the least a pipe holds
READ_BYTES = 1024         # about 6 ms of 44.1 kHz stereo
LOUD = 1000               # a sample this far from zero is sound, not dither
PAUSE_POLL_S = 0.01
REWRITE_EVERY_S = 0.25
F_SETPIPE_SZ = getattr(fcntl, "F_SETPIPE_SZ", 1031)


def to_pcm16(data, is_float, bits):
    """Samples as 16-bit integers, whatever the stream's sample format."""
    if is_float:
        floats = array.array("f")
        floats.frombytes(data)
        return array.array("h", (max(-32768, min(32767, int(v * 32767))) for v in floats)).tobytes()
    if bits == 32:
        wide = array.array("i")
        wide.frombytes(data)
        return array.array("h", (v >> 16 for v in wide)).tobytes()
    return data


def write_alsa_conf(folder, fifo):
    conf = os.path.join(folder, "asound.conf")
    with open(conf, "w") as f:
        f.write('pcm.!default {\n type file\n slave.pcm "null"\n'
                f' file "{fifo}"\n format "wav"\n}}\n')
    with open("/usr/share/alsa/alsa.conf") as f:
        text = f.read().replace('"~/.asoundrc"', f'"{conf}"')
    path = os.path.join(folder, "alsa.conf")
    with open(path, "w") as f:
        f.write(text)
    return path


class PacedSink:
    def __init__(self, folder, pause_file=None, keep=False):
        self.fifo = os.path.join(folder, "sink.fifo")
        os.mkfifo(self.fifo)
        self.alsa_conf = write_alsa_conf(folder, self.fifo)
        self.pause_file = pause_file
        self.keep = keep
        self.lock = threading.Lock()
        self.loud = threading.Event()
        self.loud_at = None
        self.armed = False
        self.bytes = 0
        self.format = None            # (rate, channels) of the last stream
        self.heard = bytearray()      # everything read, when keep
        self.streams = 0
        self.segments = []            # (first frame, rate, channels) of each stream kept
        self.closing = False
        self.connected = False        # a player has the device open
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def env(self):
        return {"ALSA_CONFIG_PATH": self.alsa_conf}

    def arm(self):
        """Forget earlier sound: wait_loud() reports the next one."""
        with self.lock:
            self.loud.clear()
            self.loud_at = None
            self.armed = True

    def wait_idle(self, timeout):
        """Waits until no player has the device open, so nothing of an
        earlier one is still to be heard."""
        deadline = time.monotonic() + timeout
        while self.connected and time.monotonic() < deadline:
            time.sleep(PAUSE_POLL_S)
        return not self.connected

    def wait_loud(self, timeout):
        """Monotonic time at which the first loud sample since arm() was heard."""
        if not self.loud.wait(timeout):
            return None
        return self.loud_at

    def run(self):
        while not self.closing:
            try:
                fd = os.open(self.fifo, os.O_RDONLY)
            except OSError:
                return
            self.connected = True
            try:
                try:
                    fcntl.fcntl(fd, F_SETPIPE_SZ, PIPE_BYTES)
                except OSError:
                    pass
                self.read_stream(fd)
            finally:
                os.close(fd)
                self.connected = False

    def read_stream(self, fd):
        """One open of the FIFO. A client that opens the device before the one
        before it has closed it writes its WAV header in the same stream: a
        header found inside the data starts a new format there."""
        fmt = None
        due = None       # when the next byte is heard
        pending = b""    # bytes read, not yet taken
        while True:
            while self.pause_file and os.path.exists(self.pause_file):
                time.sleep(PAUSE_POLL_S)
                due = None  # a hung card plays nothing meanwhile
            piece = os.read(fd, READ_BYTES)
            if not piece:
                return
            now = time.monotonic()
            start = now if due is None or due < now else due
            pending += piece
            heard = b""
            byte_rate = fmt[0] if fmt else 1
            while True:
                at = pending.find(b"RIFF")
                while at >= 0 and len(pending) >= at + 12 and pending[at + 8:at + 12] != b"WAVE":
                    at = pending.find(b"RIFF", at + 1)  # only looks like one
                if at >= 0 and len(pending) >= at + WAV_HEAD:
                    if fmt:
                        heard += self.take(pending[:at], fmt)
                    fmt = self.start_format(pending[at:at + WAV_HEAD])
                    pending = pending[at + WAV_HEAD:]
                    continue
                # Keep what may be the start of a header cut by this read.
                keep = len(pending) - at if at >= 0 else min(len(pending), 3)
                if fmt:
                    frame = fmt[1]
                    usable = (len(pending) - keep) // frame * frame
                    heard += self.take(pending[:usable], fmt)
                    pending = pending[usable:]
                break
            byte_rate = fmt[0] if fmt else byte_rate
            self.look(heard, start, fmt[2] if fmt else 1)
            self.bytes += len(piece)
            if self.keep and heard:
                with self.lock:
                    self.heard += heard
            due = start + len(piece) / max(byte_rate, 1)
            wait = due - time.monotonic()
            if wait > 0:
                time.sleep(wait)

    def start_format(self, head):
        """(byte rate, frame bytes, 16-bit byte rate, float) of a WAV header."""
        tag, channels, rate, byte_rate = struct.unpack("<HHII", head[20:32])
        bits = struct.unpack("<H", head[34:36])[0] or 16
        channels = max(channels, 1)
        is_float = tag == 3 or (tag == 0xFFFE and bits == 32)
        self.format = (rate, channels)
        with self.lock:
            self.segments.append((len(self.heard) // 4, rate, channels))
        self.streams += 1
        return (max(byte_rate, 1), channels * bits // 8, rate * channels * 2, is_float, bits)

    def take(self, data, fmt):
        return to_pcm16(data, fmt[3], fmt[4])

    def look(self, data, start, byte_rate):
        if not self.armed or not data:
            return
        samples = struct.unpack(f"<{len(data) // 2}h", data)
        for i, v in enumerate(samples):
            if v >= LOUD or v <= -LOUD:
                with self.lock:
                    if self.armed:
                        self.armed = False
                        self.loud_at = start + (i * 2) / byte_rate
                        self.loud.set()
                return

    def segments_text(self):
        with self.lock:
            return "".join(f"{f} {r} {c}\n" for f, r, c in self.segments)

    def wav_bytes(self):
        # Headed with the first stream's format; the segments file has them all.
        rate, channels = self.segments[0][1:] if self.segments else (44100, 2)
        with self.lock:
            data = bytes(self.heard)
        head = struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + len(data), b"WAVE", b"fmt ", 16,
                           1, channels, rate, rate * channels * 2, channels * 2, 16,
                           b"data", len(data))
        return head + data

    def close(self):
        self.closing = True
        try:  # wakes a reader waiting for a writer
            os.close(os.open(self.fifo, os.O_WRONLY | os.O_NONBLOCK))
        except OSError:
            pass


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--dir", required=True)
    ap.add_argument("--wav", required=True)
    ap.add_argument("--pause-file")
    args = ap.parse_args()
    os.makedirs(args.dir, exist_ok=True)
    sink = PacedSink(args.dir, pause_file=args.pause_file, keep=True)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    threading.Thread(target=lambda: (sys.stdin.read(), stop.set()), daemon=True).start()
    print(f"ALSA_CONFIG_PATH {sink.alsa_conf}", flush=True)
    written = -1
    while True:
        done = stop.wait(REWRITE_EVERY_S)
        if len(sink.heard) != written or done:
            written = len(sink.heard)
            tmp = args.wav + ".tmp"
            with open(tmp, "wb") as f:
                f.write(sink.wav_bytes())
            os.replace(tmp, args.wav)
            with open(tmp, "w") as f:
                f.write(sink.segments_text())
            os.replace(tmp, args.wav + ".segments")
        if done:
            break
    sink.close()


if __name__ == "__main__":
    main()
