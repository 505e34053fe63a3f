#!/usr/bin/env python3
"""An HLS server for the engine's tests: ffmpeg's own HLS output, and
segments written at request time for live windows, titles and faults.

Listens on 127.0.0.1 (port 0 = a free one; printed as "PORT n"), logs every
request head (and events) to --log as the radio server does, and serves:

  /ff/<kind>/<file>  ffmpeg's HLS of a 6 s 440 Hz AAC tone (media.hls_ffmpeg):
                     kind ts, fmp4 (EXT-X-MAP), aes (AES-128, explicit IV),
                     single (byte ranges of one file). On the playlist:
                       type=TYPE  its Content-Type (default the HLS one)
                       abs=1      every URI in it made absolute
  /mux.m3u8          a media playlist of segments written here from the
                     seamless AAC loop (1 s segments, MPEG-TS):
                       seconds=S      segments of S seconds instead (the
                                      target duration S)
                       count=N        a VOD list of N segments; else live: a
                                      window that advances in real time from
                                      the first request of its id
                       window=W       live segments listed (default 6)
                       id=TEXT        the live clock's key (and the log's)
                       freeze_after=N the live list stops advancing at N
                       missing=K[,K]  these segments answer 404
                       disc_at=K      from segment K on the 880 Hz tone at 48 kHz,
                                      after EXT-X-DISCONTINUITY, times from 0
                       titles=1       ID3 timed titles: VOD "Title One" at 0 s,
                                      "Title Two" at 2.7 s, "Title Three" at 4.7 s;
                                      live "Live K" at every third segment
                       extinf=1       EXTINF titles "Segment K"
                       audio=ac3      the PMT names AC-3 (we cannot play it)
                       packed=1       packed ADTS segments instead of MPEG-TS
                       key=aes        AES-128, the IV the media sequence number
                       key=sample     METHOD=SAMPLE-AES
                       key=lost       AES-128 whose key answers 404
                       name=TEXT      an icy-name header with the playlist
  /mux/<K>.ts|.aac   segment K of the list the same query describes
  /mux/key.bin       the AES-128 key of key=aes
  /master.m3u8       a multivariant list: the best variant (no CODECS) is
                     AC-3 only, an AC-3 variant by CODECS, "HLS Test Radio"
                     (96 kbit/s AAC-LC with video, its audio from a rendition)
                     and a lower one; id= passed on, live=1 makes them live
                     windows, titles=1 gives the rendition timed titles
  /redirect?to=URL   302 to URL
"""
import argparse
import os
import sys
import tempfile
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler

from cryptography.hazmat.primitives import padding
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import media  # noqa: E402
import radio_server  # noqa: E402

HLS_TYPE = "application/vnd.apple.mpegurl"
SEGMENT_TYPES = {".ts": "video/mp2t", ".m4s": "video/mp4", ".mp4": "video/mp4", ".aac": "audio/aac",
                 ".bin": "application/octet-stream", ".m3u8": HLS_TYPE}
SEGMENT_FRAMES = 43          # AAC frames of a segment: 0.998 s at 44.1 kHz
SWITCH_SEGMENT_FRAMES = 47   # at 48 kHz: 1.003 s
DEFAULT_WINDOW = 6
TITLE_EVERY = 3              # live: a title every third segment
VOD_TITLES = ((0.0, "Title One"), (2.7, "Title Two"), (4.7, "Title Three"))
KEY = bytes(range(16))
STATION = "HLS Test Radio"


class Media:
    folder = ""
    frames = []     # the 440 Hz loop at 44.1 kHz, ADTS frames
    switched = []   # the 880 Hz loop at 48 kHz


class Clocks:
    """When each live list (by id) was first asked for."""
    started = {}
    lock = threading.Lock()

    @classmethod
    def since(cls, key):
        with cls.lock:
            return time.monotonic() - cls.started.setdefault(key, time.monotonic())


class MuxList:
    """The list /mux.m3u8 and its segments describe, from the query."""

    def __init__(self, q):
        self.q = q
        self.count = int(q["count"]) if "count" in q else None
        self.window = int(q.get("window", DEFAULT_WINDOW))
        self.disc_at = int(q["disc_at"]) if "disc_at" in q else None
        self.missing = {int(k) for k in q.get("missing", "").split(",") if k}
        self.packed = q.get("packed") == "1"
        self.seconds = max(1, int(q.get("seconds", "1")))

    def part(self, k):
        """(frames, rate, first frame index of its time line) of segment k."""
        if self.disc_at is not None and k >= self.disc_at:
            n = SWITCH_SEGMENT_FRAMES
            return Media.switched, media.SWITCH_RATE, (k - self.disc_at) * n, n
        n = SEGMENT_FRAMES * self.seconds
        return Media.frames, 44100, k * n, n

    def duration(self, k):
        _, rate, _, n = self.part(k)
        return n * media.AAC_FRAME / rate

    def live_edge(self):
        edge = self.window - 1 + int(Clocks.since(self.q.get("id", "")) / self.duration(0))
        if "freeze_after" in self.q:
            edge = min(edge, int(self.q["freeze_after"]))
        return edge

    def span(self):
        if self.count is not None:
            return 0, self.count - 1
        edge = self.live_edge()
        return max(0, edge - self.window + 1), edge

    def playlist(self, base):
        first, last = self.span()
        query = urllib.parse.urlencode(self.q)
        ext = ".aac" if self.packed else ".ts"
        lines = ["#EXTM3U", "#EXT-X-VERSION:3", f"#EXT-X-TARGETDURATION:{self.seconds}",
                 f"#EXT-X-MEDIA-SEQUENCE:{first}"]
        if self.count is not None:
            lines.append("#EXT-X-PLAYLIST-TYPE:VOD")
        key = self.q.get("key")
        if key == "sample":
            lines.append('#EXT-X-KEY:METHOD=SAMPLE-AES,URI="mux/key.bin",IV=0x1')
        elif key in ("aes", "lost"):
            lines.append(f'#EXT-X-KEY:METHOD=AES-128,URI="{base}mux/key.bin?{query}"')
        for k in range(first, last + 1):
            if k == self.disc_at:
                lines.append("#EXT-X-DISCONTINUITY")
            title = f"Segment {k}" if self.q.get("extinf") == "1" else ""
            lines.append(f"#EXTINF:{self.duration(k):.6f},{title}")
            lines.append(f"{base}mux/{k}{ext}?{query}")
        if self.count is not None:
            lines.append("#EXT-X-ENDLIST")
        return ("\n".join(lines) + "\n").encode()

    def segment(self, k):
        """Segment k's bytes, or None when it is missing or not there yet."""
        first, last = self.span()
        if k in self.missing or k < 0 or k > last:
            return None
        frames, rate, index, n = self.part(k)
        picked = [frames[(index + i) % len(frames)] for i in range(n)]
        if self.packed:
            data = media.packed_segment(picked, index, rate)
        else:
            writer = media.TsWriter(media.TS_STREAM_AC3 if self.q.get("audio") == "ac3"
                                    else media.TS_STREAM_ADTS, id3=self.q.get("titles") == "1")
            data = media.ts_segment(writer, picked, index, rate, self.titles(k, index, rate, n))
        if self.q.get("key") == "aes":
            data = encrypt(data, k)
        return data

    def titles(self, k, index, rate, n):
        if self.q.get("titles") != "1":
            return []
        start, end = media.frame_pts(index, rate), media.frame_pts(index + n, rate)
        if self.count is None:
            return [(start, f"Live {k}")] if k % TITLE_EVERY == 0 else []
        return [(int(s * media.TS_CLOCK), text) for s, text in VOD_TITLES
                if start <= int(s * media.TS_CLOCK) < end]


def encrypt(data, sequence):
    """AES-128-CBC with PKCS#7 padding, the IV the segment's sequence number."""
    padder = padding.PKCS7(128).padder()
    plain = padder.update(data) + padder.finalize()
    iv = sequence.to_bytes(16, "big")
    encryptor = Cipher(algorithms.AES(KEY), modes.CBC(iv)).encryptor()
    return encryptor.update(plain) + encryptor.finalize()


def absolute(text, base):
    """The playlist with every URI (lines and URI= attributes) made absolute."""
    out = []
    for line in text.decode().splitlines():
        if line and not line.startswith("#"):
            line = base + line
        elif 'URI="' in line:
            line = line.replace('URI="', 'URI="' + base)
        out.append(line)
    return ("\n".join(out) + "\n").encode()


def master(q):
    # Each variant a VOD list of six segments, or with live=1 a live window;
    # titles=1 gives the playable one its timed titles.
    length = "" if q.get("live") == "1" else "count=6&"
    titles = "titles=1&" if q.get("titles") == "1" else ""
    tail = "&id=" + urllib.parse.quote(q.get("id", ""))
    return ("#EXTM3U\n"
            '#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID="aud",NAME="Main",DEFAULT=YES,'
            f'URI="mux.m3u8?{length}{titles}variant=rendition{tail}"\n'
            "#EXT-X-STREAM-INF:BANDWIDTH=256000\n"
            f"mux.m3u8?{length}audio=ac3&variant=probe{tail}\n"
            '#EXT-X-STREAM-INF:BANDWIDTH=384000,CODECS="ac-3"\n'
            f"mux.m3u8?{length}audio=ac3&variant=never{tail}\n"
            '#EXT-X-STREAM-INF:BANDWIDTH=105000,AVERAGE-BANDWIDTH=96000,CODECS="avc1.42e01e,mp4a.40.2",'
            f'AUDIO="aud",NAME="{STATION}"\n'
            f"mux.m3u8?{length}variant=video{tail}\n"
            '#EXT-X-STREAM-INF:BANDWIDTH=64000,CODECS="mp4a.40.2"\n'
            f"mux.m3u8?{length}variant=low{tail}\n").encode()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def send(self, status, body, kind, extra=()):
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def missing(self):
        self.send(404, b"", "text/plain")

    def do_GET(self):
        self.server.log_request(self.requestline + "\n" + str(self.headers))
        url = urllib.parse.urlsplit(self.path)
        q = {k: v[-1] for k, v in urllib.parse.parse_qs(url.query).items()}
        here = f"http://127.0.0.1:{self.server.server_address[1]}"
        path = url.path
        try:
            if path.startswith("/ff/"):
                self.static(path, q, here)
            elif path == "/mux.m3u8":
                extra = [("icy-name", q["name"])] if "name" in q else []
                base = here + "/" if q.get("abs") == "1" else ""
                self.send(200, MuxList(q).playlist(base), q.get("type", HLS_TYPE), extra)
            elif path == "/mux/key.bin":
                if q.get("key") == "lost":
                    self.missing()
                else:
                    self.send(200, KEY, "application/octet-stream")
            elif path.startswith("/mux/"):
                name = path[len("/mux/"):]
                number, ext = os.path.splitext(name)
                data = MuxList(q).segment(int(number)) if number.isdigit() else None
                if data is None:
                    self.server.log_request(f"EVENT 404 {self.path}")
                    self.missing()
                else:
                    self.send(200, data, SEGMENT_TYPES.get(ext, "application/octet-stream"))
            elif path == "/master.m3u8":
                self.send(200, master(q), HLS_TYPE)
            elif path == "/redirect":
                self.send(302, b"", "text/plain", [("Location", q.get("to", "/"))])
            else:
                self.missing()
        except (ConnectionError, OSError):
            pass

    def static(self, path, q, here):
        parts = path.split("/")
        if len(parts) != 4 or parts[2] not in media.HLS_KINDS or parts[3].startswith("."):
            self.missing()
            return
        folder = media.hls_ffmpeg(Media.folder, parts[2])
        file = os.path.join(folder, parts[3])
        if not os.path.isfile(file):
            self.missing()
            return
        data = media.read(file)
        ext = os.path.splitext(file)[1]
        if ext == ".m3u8":
            if q.get("abs") == "1":
                data = absolute(data, f"{here}/ff/{parts[2]}/")
            self.send(200, data, q.get("type", HLS_TYPE))
            return
        kind = SEGMENT_TYPES.get(ext, "application/octet-stream")
        wanted = self.headers.get("Range", "")
        if wanted.startswith("bytes="):
            first, _, last = wanted[len("bytes="):].partition("-")
            first = int(first)
            last = min(int(last) if last else len(data) - 1, len(data) - 1)
            body = data[first:last + 1]
            self.send(206, body, kind, [("Content-Range", f"bytes {first}-{last}/{len(data)}")])
        else:
            self.send(200, data, kind)


def prepare(folder):
    """Makes every piece of media the server hands out, before it listens."""
    Media.folder = folder
    Media.frames = media.adts_frame_list(media.read(media.tone_aac(folder)))
    Media.switched = media.adts_frame_list(media.read(
        media.tone_aac(folder, hz=media.SWITCH_HZ, rate=media.SWITCH_RATE)))
    for kind in media.HLS_KINDS:
        media.hls_ffmpeg(folder, kind)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--media", help="folder for the generated audio (default: a temp folder)")
    ap.add_argument("--log", help="append every request head to this file")
    args = ap.parse_args()
    folder = args.media or tempfile.mkdtemp(prefix="hls-media-")
    os.makedirs(folder, exist_ok=True)
    prepare(folder)
    # The radio server's, its log and all, with our handler.
    server = radio_server.Server(("127.0.0.1", args.port), args.log)
    server.RequestHandlerClass = Handler
    radio_server.serve(server)


if __name__ == "__main__":
    main()
