#!/usr/bin/env python3
"""A small radio server for the engine's tests that misbehaves on request.

Listens on 127.0.0.1 (port 0 = a free one; the port is printed as "PORT n" on
stdout) and serves, by path and query:

  /stream.mp3   a 440 Hz MP3 tone, paced at its bit rate after a burst
                  icy=1          answer "ICY 200 OK" instead of HTTP/1.0
                  lf=1           end header lines with LF only
                  chunked=1      chunked transfer coding (HTTP/1.1)
                  metaint=N      ICY metadata every N audio bytes
                  title_every=N  new title ("Tone 1", "Tone 2", ...) every N audio bytes
                  garbage=N      N bytes of noise before the audio
                  skip=N         start N bytes into the MP3 (mid-frame)
                  switch=N       after N bytes (cut mid-frame) go on with an 880 Hz
                                 tone at 48 kHz: a format change
                  close=N        close the connection after N audio bytes
                  length=N       a body of N audio bytes, said in Content-Length
                                 (without metaint, which would add to it)
                  stall=N        stop sending after N audio bytes, keep the connection
                  burst=N        bytes sent at once before pacing (default 65536)
                  fast=1         no pacing at all
                  title=BYTES    every title is these bytes (percent-encoded, any
                                 charset: UTF-8, Latin-1, ...)
                  notags=1       no icy-name, icy-br or icy-genre headers
                  blank_header=1 a header line of blanks only before icy-name
                  delay=MS       wait this long before answering
                  tone=HZ        a sine of HZ instead of 440 Hz (MP3 only)
                  id3=N          an ID3v2 tag of N bytes before the audio
                  blank_lines=N  N blank lines before the status line
                  head_stall=N   send the first N bytes of the head, then hold the
                                 connection without a word
                  drip_head=MS   send the head one byte every MS milliseconds
                  id=TEXT        tells requests apart in the log (and sessions below)
                  gone=1         once a connection of this id has ended, the
                                 station is gone: every later request of the id
                                 gets 404 (logs "EVENT gone <id>")
                  live=1         titles of the id count on across connections,
                                 as a live station's would for a listener who
                                 comes back
                  Where it holds a connection it logs "EVENT stall <path?query>".
  /stream.ogg   chained Ogg Vorbis (a new logical stream per title), same options
                  bad_header=1   the identification header says 0 channels
                  rate=48000     the chain at 48 kHz instead of 44.1 kHz
  /stream.opus  chained Ogg Opus (440 Hz "Opus One", 660 Hz "Opus Two"), same options
                  type=TYPE      Content-Type (default audio/ogg; codecs=opus)
                  bad_header=1   every OpusHead says version 16, a layout we do not know
                  channels=6     a 5.1 stream instead: 660 Hz front right, 440 Hz rear left
  /stream.aac   a 440 Hz AAC-LC tone in ADTS frames, same options as /stream.mp3
                  type=TYPE      Content-Type (default audio/aac; audio/aacp,
                                 application/octet-stream to be sniffed, ...)
                  corrupt=N      every N-th frame damaged: by turns noise in its
                                 payload and a wrong length in its header
                  rate=48000     the tone at 48 kHz instead of 44.1 kHz
  /noise        200 with an audio type but random bytes
  /missing      404;  /broken  500
  /loop         redirects to itself;  /hop?n=K  K redirects, then /stream.mp3
  /ftp          redirects to an ftp:// address
  /list.pls, /list.m3u, /nested.pls (a playlist naming /list.m3u), /self.pls
                  playlists whose entry is /stream.mp3 (self.pls names only itself)
  /silent       accepts and never answers
  /live         the number of /stream.* connections open right now (text)
  /late.pls     a playlist served as text/plain whose body is cut after 4 bytes
                  delay=MS       and the rest follows MS later (long: a stall)
  /https.pls    a playlist whose only entry is an https address
  /tohttps      redirects to an https address
  /redirect     redirects to where to=URL (percent-encoded) says
"""
import argparse
import os
import random
import socket
import socketserver
import sys
import tempfile
import threading
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import media  # noqa: E402

MP3_KBPS = 128
OGG_KBPS = 96
AAC_KBPS = 96
DEFAULT_BURST = 65536
SEND_PIECE = 4096


class Audio:
    mp3 = b""
    mp3_switched = b""
    ogg = b""
    ogg48 = b""
    opus = b""
    opus_surround = b""
    aac = b""
    aac48 = b""
    folder = ""
    tones = {}  # hz -> MP3 bytes, made on first use
    lock = threading.Lock()

    @classmethod
    def tone(cls, hz):
        with cls.lock:
            if hz not in cls.tones:
                cls.tones[hz] = media.read(media.tone_mp3(cls.folder, hz=hz))
            return cls.tones[hz]


class Live:
    """Open stream connections, for tests that check a client let go."""
    count = 0
    lock = threading.Lock()


class Sessions:
    """What the server remembers of a listener (by id) across connections:
    whether its station is gone, and the number of its next title."""
    served = set()
    titles = {}
    lock = threading.Lock()


def icy_block(title):
    raw = title if isinstance(title, bytes) else title.encode()
    text = b"StreamTitle='" + raw + b"';"
    length = (len(text) + 15) // 16
    return bytes([length]) + text.ljust(length * 16, b"\0")


def header_lines(headers, end):
    """The header lines of a head; a header whose value is None is sent as
    its name alone."""
    return "".join((k if v is None else f"{k}: {v}") + end for k, v in headers)


class Handler(socketserver.BaseRequestHandler):
    def setup(self):
        self.request.settimeout(60)

    def read_request(self):
        data = b""
        while b"\r\n\r\n" not in data and b"\n\n" not in data and len(data) < 16384:
            piece = self.request.recv(4096)
            if not piece:
                break
            data += piece
        line = data.split(b"\n", 1)[0].decode("latin-1").strip()
        parts = line.split(" ")
        target = parts[1] if len(parts) > 1 else "/"
        self.server.log_request(data.decode("latin-1"))
        return urllib.parse.urlsplit(target)

    def head(self, status, headers, lf=False, icy=False):
        end = "\n" if lf else "\r\n"
        first = "ICY 200 OK" if icy else f"HTTP/1.0 {status}"
        text = first + end + header_lines(headers, end) + end
        self.request.sendall(text.encode("latin-1"))

    def handle(self):
        try:
            url = self.read_request()
            q = {k: v[-1] for k, v in urllib.parse.parse_qs(url.query).items()}
            path = url.path
            here = f"http://127.0.0.1:{self.server.server_address[1]}"
            streams = ("/stream.mp3", "/stream.ogg", "/stream.aac", "/stream.opus")
            if path in streams and self.gone(q):
                self.head("404 Not Found", [("Content-Length", "0")])
            elif path in streams:
                with Live.lock:
                    Live.count += 1
                try:
                    self.stream(path.endswith(".ogg"), q, url, aac=path.endswith(".aac"),
                                opus=path.endswith(".opus"))
                finally:
                    with Live.lock:
                        Live.count -= 1
            elif path == "/live":
                with Live.lock:
                    body = str(Live.count).encode()
                self.head("200 OK", [("Content-Type", "text/plain"),
                                     ("Content-Length", str(len(body)))])
                self.request.sendall(body)
            elif path == "/noise":
                self.head("200 OK", [("Content-Type", "audio/mpeg")])
                rnd = random.Random(7)
                self.request.sendall(bytes(rnd.getrandbits(8) & 0xDF for _ in range(262144)))
            elif path == "/missing":
                self.head("404 Not Found", [("Content-Type", "text/html")])
                self.request.sendall(b"<h1>not here</h1>")
            elif path == "/broken":
                self.head("500 Internal Server Error", [("Content-Length", "0")])
            elif path == "/loop":
                self.head("302 Found", [("Location", "/loop")])
            elif path == "/hop":
                n = int(q.get("n", "1"))
                target = f"/hop?n={n - 1}" if n > 1 else "/stream.mp3?fast=1"
                self.head("302 Found", [("Location", here + target)])
            elif path == "/ftp":
                self.head("302 Found", [("Location", "ftp://127.0.0.1/stream.mp3")])
            elif path in ("/list.pls", "/list.m3u", "/nested.pls", "/self.pls"):
                self.playlist(path, here)
            elif path == "/late.pls":
                self.late_playlist(here, url, int(q.get("delay", "300")))
            elif path == "/https.pls":
                body = b"[playlist]\nNumberOfEntries=1\nFile1=https://127.0.0.1:1/stream.mp3\n"
                self.head("200 OK", [("Content-Type", "audio/x-scpls"),
                                     ("Content-Length", str(len(body)))])
                self.request.sendall(body)
            elif path == "/tohttps":
                self.head("302 Found", [("Location", "https://127.0.0.1:1/stream.mp3")])
            elif path == "/redirect":
                self.head("302 Found", [("Location", q.get("to", "/")), ("Content-Length", "0")])
            elif path == "/silent":
                while self.request.recv(4096):
                    pass
            else:
                self.head("404 Not Found", [("Content-Length", "0")])
        except (ConnectionError, socket.timeout, OSError):
            pass

    def playlist(self, path, here):
        if path == "/list.pls":
            body = ("[playlist]\n\nTitle1=Test radio\nFile1=" + here + "/stream.mp3?fast=1\n"
                    "Length1=-1\n")
            kind = "audio/x-scpls"
        elif path == "/nested.pls":
            body = "[playlist]\nNumberOfEntries=1\nFile1=" + here + "/list.m3u\n"
            kind = "audio/x-scpls"
        elif path == "/self.pls":
            body = "[playlist]\nNumberOfEntries=1\nFile1=" + here + "/self.pls\n"
            kind = "audio/x-scpls"
        else:
            body = "#EXTM3U\n#EXTINF:-1,Test radio\n\n" + here + "/stream.mp3?fast=1\n"
            kind = "audio/x-mpegurl"
        data = body.encode()
        self.head("200 OK", [("Content-Type", kind), ("Content-Length", str(len(data)))])
        self.request.sendall(data)

    def gone(self, q):
        """True when this listener's station went for good (gone=1)."""
        if q.get("gone") != "1":
            return False
        key = q.get("id", "")
        with Sessions.lock:
            if key in Sessions.served:
                self.server.log_request(f"EVENT gone {key}")
                return True
            Sessions.served.add(key)
            return False

    def hold(self, url):
        """Keeps the connection open without a word until the client goes."""
        self.server.log_request(f"EVENT stall {url.path}?{url.query}")
        while self.request.recv(4096):
            pass

    def late_playlist(self, here, url, delay_ms):
        body = ("[playlist]\nFile1=" + here + "/stream.mp3?fast=1\n").encode()
        self.request.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + body[:4])
        if delay_ms >= 60000:
            self.hold(url)
            return
        time.sleep(delay_ms / 1000)
        self.request.sendall(body[4:])

    def stream(self, ogg, q, url, aac=False, opus=False):
        delay = int(q.get("delay", "0"))
        if delay:
            time.sleep(delay / 1000)
        metaint = int(q.get("metaint", "0"))
        title_every = int(q.get("title_every", "0"))
        close_after = int(q.get("close", q.get("length", "0")))
        stall_after = int(q.get("stall", "0"))
        burst = int(q.get("burst", str(DEFAULT_BURST)))
        fast = q.get("fast") == "1"
        chunked = q.get("chunked") == "1"
        high_rate = q.get("rate") == str(media.SWITCH_RATE)
        source = (Audio.ogg48 if high_rate else Audio.ogg) if ogg else Audio.mp3
        if "tone" in q and not ogg:
            source = Audio.tone(int(q["tone"]))
        # The raw bytes of the title, whatever their charset.
        fixed_title = None
        for part in url.query.split("&"):
            if part.startswith("title="):
                fixed_title = urllib.parse.unquote_to_bytes(part[len("title="):])
        switch_at = int(q.get("switch", "0"))
        if switch_at and not ogg:
            source = Audio.mp3[:switch_at] + Audio.mp3_switched * 3
        kbps = OGG_KBPS if ogg else MP3_KBPS
        headers = [("Content-Type", "application/ogg" if ogg else "audio/mpeg")]
        if aac:
            source = Audio.aac48 if high_rate else Audio.aac
            if "corrupt" in q:
                source = media.adts_damaged(source, int(q["corrupt"]))
            kbps = AAC_KBPS
            headers = [("Content-Type", q.get("type", "audio/aac"))]
        if opus:
            surround = q.get("channels") == "6"
            source = Audio.opus_surround if surround else Audio.opus
            if q.get("bad_header") == "1":
                source = media.opus_with_version(source, 16)
            kbps = media.OPUS_KBPS * (2 if surround else 1)
            headers = [("Content-Type", q.get("type", "audio/ogg; codecs=opus"))]
        if q.get("blank_header") == "1":
            headers.append((" \t ", None))
        if q.get("notags") != "1":
            headers += [("icy-name", "Orvantis Test Radio"), ("icy-br", str(kbps)),
                        ("icy-genre", "Test")]
        if metaint:
            headers.append(("icy-metaint", str(metaint)))
        if "length" in q:
            headers.append(("Content-Length", q["length"]))
        if chunked:
            headers.append(("Transfer-Encoding", "chunked"))
        if ogg and q.get("bad_header") == "1":
            source = media.ogg_with_channels(source, 0)
        if any(k in q for k in ("blank_lines", "head_stall", "drip_head")):
            if not self.odd_head(q, headers, url):
                return
        else:
            self.head("200 OK", headers, lf=q.get("lf") == "1", icy=q.get("icy") == "1")
        id3 = int(q.get("id3", "0"))
        if id3:
            self.request.sendall(media.id3v2_tag(id3))

        def send(data):
            if chunked:
                data = b"%x\r\n" % len(data) + data + b"\r\n"
            self.request.sendall(data)

        garbage = int(q.get("garbage", "0"))
        if garbage:
            rnd = random.Random(3)
            send(bytes(rnd.getrandbits(8) & 0xDF for _ in range(garbage)))
        pos = int(q.get("skip", "0")) % len(source)
        sent = 0          # audio bytes
        to_meta = metaint
        title_no = 1
        live = q.get("live") == "1"
        if live:
            with Sessions.lock:
                title_no = Sessions.titles.get(q.get("id", ""), 1)
        pending_title = fixed_title if fixed_title is not None else f"Tone {title_no}"
        start = time.monotonic()
        rate = kbps * 1000 / 8
        while True:
            if close_after and sent >= close_after:
                if chunked:
                    self.request.sendall(b"0\r\n\r\n")
                return
            if stall_after and sent >= stall_after:
                self.hold(url)
                return
            n = SEND_PIECE
            if close_after:
                n = min(n, close_after - sent)
            if stall_after:
                n = min(n, stall_after - sent)
            if metaint:
                n = min(n, to_meta)
            if title_every:
                n = min(n, title_every - sent % title_every)
            n = min(n, len(source) - pos)
            piece = source[pos:pos + n]
            pos = (pos + n) % len(source)
            out = piece
            sent += n
            if title_every and sent % title_every == 0:
                title_no += 1
                pending_title = fixed_title if fixed_title is not None else f"Tone {title_no}"
                if live:
                    with Sessions.lock:
                        Sessions.titles[q.get("id", "")] = title_no
            if metaint:
                to_meta -= n
                if to_meta == 0:
                    out += icy_block(pending_title) if pending_title else b"\0"
                    pending_title = None
                    to_meta = metaint
            send(out)
            if not fast and sent > burst:
                due = start + (sent - burst) / rate
                wait = due - time.monotonic()
                if wait > 0:
                    time.sleep(wait)


    def odd_head(self, q, headers, url):
        """The head as blank_lines, head_stall or drip_head say; False when
        the connection was held to the end."""
        text = "\r\n" * int(q.get("blank_lines", "0")) + "HTTP/1.0 200 OK\r\n"
        text += header_lines(headers, "\r\n") + "\r\n"
        data = text.encode("latin-1")
        if "head_stall" in q:
            self.request.sendall(data[:int(q["head_stall"])])
            self.hold(url)
            return False
        if "drip_head" in q:
            self.server.log_request(f"EVENT drip {url.path}?{url.query}")
            for i in range(len(data)):
                self.request.sendall(data[i:i + 1])
                time.sleep(int(q["drip_head"]) / 1000)
            return True
        self.request.sendall(data)
        return True


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, log_path):
        super().__init__(address, Handler)
        self.log_lock = threading.Lock()
        self.log_path = log_path

    def log_request(self, text):
        if not self.log_path:
            return
        with self.log_lock, open(self.log_path, "a", encoding="latin-1") as f:
            f.write(text.replace("\r\n", "\n") + "----\n")


def serve(server):
    """Says the port (the line the tests wait for) and serves until stopped."""
    print(f"PORT {server.server_address[1]}", flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--media", help="folder for the generated audio (default: a temp folder)")
    ap.add_argument("--log", help="append every request head to this file")
    args = ap.parse_args()
    folder = args.media or tempfile.mkdtemp(prefix="radio-media-")
    os.makedirs(folder, exist_ok=True)
    Audio.folder = folder
    Audio.mp3 = media.read(media.tone_mp3(folder))
    Audio.mp3_switched = media.read(media.tone_mp3(folder, hz=media.SWITCH_HZ,
                                                   rate=media.SWITCH_RATE))
    Audio.ogg = b"".join(media.read(p) for p in media.ogg_parts(folder))
    Audio.ogg48 = b"".join(media.read(p) for p in media.ogg_parts(folder, rate=media.SWITCH_RATE))
    Audio.opus = b"".join(media.read(p) for p in media.opus_parts(folder))
    Audio.opus_surround = media.read(media.opus_surround(folder))
    Audio.aac = media.read(media.tone_aac(folder))
    Audio.aac48 = media.read(media.tone_aac(folder, rate=media.SWITCH_RATE))
    server = Server(("127.0.0.1", args.port), args.log)
    serve(server)


if __name__ == "__main__":
    main()
