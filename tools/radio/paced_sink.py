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
heard to OUT.wav (rewritten as it grows). While PATH exists the reader stops
reading, like a card that hangs. Runs until stdin closes or it is terminated.
"""
import argparse
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
        self.closing = False
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
            try:
                try:
                    fcntl.fcntl(fd, F_SETPIPE_SZ, PIPE_BYTES)
                except OSError:
                    pass
                self.read_stream(fd)
            finally:
                os.close(fd)

    def read_exact(self, fd, n):
        data = b""
        while len(data) < n:
            piece = os.read(fd, n - len(data))
            if not piece:
                return None
            data += piece
        return data

    def read_stream(self, fd):
        head = self.read_exact(fd, WAV_HEAD)
        if head is None or head[:4] != b"RIFF":
            return
        channels, rate, byte_rate = struct.unpack("<HII", head[22:32])
        frame = max(channels, 1) * 2
        byte_rate = max(byte_rate, 1)
        self.format = (rate, channels)
        self.streams += 1
        due = None   # when the next byte is heard
        carry = b""  # an odd byte between reads
        while True:
            while self.pause_file and os.path.exists(self.pause_file):
                time.sleep(PAUSE_POLL_S)
                due = None  # a hung card plays nothing meanwhile
            piece = os.read(fd, READ_BYTES)
            if not piece:
                return
            now = time.monotonic()
            start = now if due is None or due < now else due
            data = carry + piece
            usable = len(data) // frame * frame
            carry = data[usable:]
            self.look(data[:usable], start, byte_rate, frame)
            self.bytes += len(piece)
            if self.keep:
                with self.lock:
                    self.heard += data[:usable]
            due = start + len(piece) / byte_rate
            wait = due - time.monotonic()
            if wait > 0:
                time.sleep(wait)

    def look(self, data, start, byte_rate, frame):
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

    def wav_bytes(self):
        rate, channels = self.format or (44100, 2)
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
        if done:
            break
    sink.close()


if __name__ == "__main__":
    main()
