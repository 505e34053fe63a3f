#!/usr/bin/env python3
"""Checks every stream address of a station list (channels.xml).

  check_stations.py [--timeout S] [--deadline S] [--jobs N] [--json] LIST

LIST is a channels.xml file or an http(s) address serving one. Every server
address of every station is requested the way the player does (GET with
Icy-MetaData: 1); the report gives for each whether it was reachable, the
HTTP status, content type, icy-name, icy-br, the redirects and playlists
followed, and whether the first bytes are MP3, AAC (ADTS) or Ogg.

Exit status: 0 when every station has a working address (one that answers
200 with MP3, AAC or Ogg audio), 1 when a station has none, 2 when the list
cannot be read. Servers are hostile: every read is bounded in size and time.
"""
import argparse
import concurrent.futures
import json
import re
import socket
import ssl
import sys
import time
import urllib.parse
import xml.etree.ElementTree as ElementTree

USER_AGENT = "Orvantis-check-stations/1"
MAX_LIST_BYTES = 4 << 20
MAX_SERVERS = 32          # the player keeps this many addresses per station
MAX_HOPS = 5              # redirects and playlists followed per address
MAX_HEAD_BYTES = 16384
MAX_HEADER_LINES = 100
SNIFF_BYTES = 16384       # audio bytes looked at
MAX_PLAYLIST_BYTES = 65536
MAX_METAINT = 1 << 20
MAX_SHOWN = 200           # characters of a server's text in the report
RECV_PIECE = 4096
REDIRECTS = (301, 302, 303, 307, 308)
PLAYLIST_TYPES = ("audio/x-scpls", "audio/scpls", "audio/x-mpegurl", "audio/mpegurl",
                  "application/vnd.apple.mpegurl", "application/x-mpegurl")
URL_CHARS = re.compile(r"^[\x21-\x7e]+$")
HOST_CHARS = re.compile(r"^[A-Za-z0-9.-]+$|^[0-9A-Fa-f:.]+$")


class CheckError(Exception):
    pass


# --- the station list -------------------------------------------------------

def first_value(element):
    """A value is the first attribute of its element, whatever its name."""
    return next(iter(element.attrib.values()), "") if element is not None else ""


def leading_int(text):
    match = re.match(r"\s*[+-]?\d+", text)
    return int(match.group()) if match else 0


def parse_list(data):
    """[(id, name, [address, ...])] in file order, read as the player reads it."""
    try:
        root = ElementTree.fromstring(data)
    except ElementTree.ParseError as error:
        raise CheckError("not well-formed XML: %s" % error)
    if root.tag != "orvantisclient" or next(iter(root.attrib), None) != "version":
        raise CheckError("not a station list: no <orvantisclient version=...>")
    version = leading_int(root.attrib["version"])
    if version < 3:
        raise CheckError("station list version %d, the player needs 3 or later" % version)
    stations = []
    stationlist = root.find("stationlist")
    for station in stationlist if stationlist is not None else []:
        ident, name, servers = 0, "", []
        for child in station:
            if child.tag == "id":
                ident = leading_int(first_value(child))
            elif child.tag == "name":
                name = first_value(child)
            elif child.tag == "serverlist":
                servers += [first_value(server) for server in child]
        stations.append((ident, name, servers[:MAX_SERVERS]))
    return stations


# --- a bounded HTTP/ICY exchange --------------------------------------------

def split_url(url):
    if not url:
        raise CheckError("empty address")
    if not URL_CHARS.match(url):
        raise CheckError("address has spaces or control characters")
    parts = urllib.parse.urlsplit(url)
    if parts.scheme not in ("http", "https"):
        raise CheckError("unsupported scheme %r" % parts.scheme)
    try:
        port = parts.port
    except ValueError:
        raise CheckError("bad port")
    host = parts.hostname or ""
    if not HOST_CHARS.match(host):
        raise CheckError("bad host")
    path = parts.path or "/"
    if parts.query:
        path += "?" + parts.query
    default_port = 443 if parts.scheme == "https" else 80
    name = "[%s]" % host if ":" in host else host
    hostport = name if port in (None, default_port) else "%s:%d" % (name, port)
    return parts.scheme, host, port or default_port, hostport, path


class Connection:
    """One request and its answer, every read bounded by size and time."""

    def __init__(self, url, timeout, deadline):
        self.deadline = deadline
        self.timeout = timeout
        self.buffer = bytearray()
        self.closed = False
        scheme, host, port, hostport, path = split_url(url)
        self.sock = socket.create_connection((host, port), timeout=self.wait_time())
        if scheme == "https":
            context = ssl.create_default_context()
            self.sock = context.wrap_socket(self.sock, server_hostname=host)
        request = ("GET %s HTTP/1.0\r\nHost: %s\r\nUser-Agent: %s\r\nAccept: */*\r\n"
                   "Icy-MetaData: 1\r\nConnection: close\r\n\r\n" % (path, hostport, USER_AGENT))
        self.sock.settimeout(self.wait_time())
        self.sock.sendall(request.encode("ascii"))

    def wait_time(self):
        left = self.deadline - time.monotonic()
        if left <= 0:
            raise socket.timeout("deadline")
        return min(self.timeout, left)

    def fill(self):
        """Reads one more piece; False once the server has closed."""
        if self.closed:
            return False
        self.sock.settimeout(self.wait_time())
        piece = self.sock.recv(RECV_PIECE)
        if not piece:
            self.closed = True
            return False
        self.buffer += piece
        return True

    def take(self, n):
        data = bytes(self.buffer[:n])
        del self.buffer[:n]
        return data

    def read_line(self, limit):
        while True:
            end = self.buffer.find(b"\n", 0, limit)
            if end >= 0:
                return self.take(end + 1).rstrip(b"\r\n")
            if len(self.buffer) >= limit:
                raise CheckError("header line longer than %d bytes" % limit)
            if not self.fill():
                raise CheckError("connection closed in the headers")

    def read_head(self):
        """(status, {lower-case name: first value}); accepts "ICY 200 OK"."""
        used = 0
        line = self.read_line(MAX_HEAD_BYTES)
        used += len(line)
        match = re.match(rb"^(?:HTTP/1\.[01]|ICY) ([0-9]{3})(?: .*)?$", line)
        if not match:
            raise CheckError("not an HTTP answer: %s" % shown(line))
        headers = {}
        for _ in range(MAX_HEADER_LINES):
            line = self.read_line(MAX_HEAD_BYTES - used)
            used += len(line) + 2
            if not line:
                return int(match.group(1)), headers
            name, colon, value = line.partition(b":")
            if colon:
                headers.setdefault(name.strip().lower().decode("latin-1"),
                                   decoded(value.strip()))
        raise CheckError("more than %d header lines" % MAX_HEADER_LINES)

    def read_body(self, limit, headers):
        """Up to limit bytes of the body (chunked or not), fewer if it ends."""
        length = headers.get("content-length", "")
        if length.isdigit():
            limit = min(limit, int(length))
        if headers.get("transfer-encoding", "").lower() == "chunked":
            return self.read_chunked(limit)
        while len(self.buffer) < limit and self.fill():
            pass
        return self.take(limit)

    def read_chunked(self, limit):
        body = b""
        while len(body) < limit:
            size = self.read_line(64).split(b";")[0].strip()
            if not re.match(rb"^[0-9A-Fa-f]{1,8}$", size) or int(size, 16) == 0:
                break
            want = int(size, 16)
            while len(self.buffer) < min(want, limit - len(body)) and self.fill():
                pass
            piece = self.take(min(want, limit - len(body)))
            body += piece
            if len(piece) < want:
                break
            self.read_line(64)
        return body

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass


def decoded(raw):
    """Servers send UTF-8 or Latin-1 without saying which."""
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return raw.decode("latin-1")


def shown(value):
    """Text made safe to print: control characters escaped, length capped."""
    if isinstance(value, bytes):
        value = decoded(value)
    safe = "".join(c if c.isprintable() else "\\x%02x" % ord(c) if ord(c) < 256
                   else "\\u%04x" % ord(c) for c in value)
    return safe if len(safe) <= MAX_SHOWN else safe[:MAX_SHOWN] + "..."


# --- what the first bytes are -----------------------------------------------

MPEG_RATES = {3: (44100, 48000, 32000), 2: (22050, 24000, 16000), 0: (11025, 12000, 8000)}
MPEG_KBPS = {
    (3, 3): (0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448),
    (3, 2): (0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384),
    (3, 1): (0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320),
    (2, 3): (0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256),
    (2, 2): (0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160),
}
MPEG_KBPS[(2, 1)] = MPEG_KBPS[(2, 2)]
ADTS_RATES = (96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025,
              8000, 7350)
AAC_PROFILES = ("Main", "LC", "SSR", "LTP")
OGG_CODECS = ((b"\x01vorbis", "Vorbis"), (b"OpusHead", "Opus"), (b"\x7fFLAC", "FLAC"),
              (b"Speex   ", "Speex"))


def mpeg_frame(data, i):
    """(length, stream kind, description) of an MPEG audio frame header at i."""
    if i + 4 > len(data) or data[i] != 0xFF or data[i + 1] & 0xE0 != 0xE0:
        return None
    version, layer = (data[i + 1] >> 3) & 3, (data[i + 1] >> 1) & 3
    rate_index, kbps_index = (data[i + 2] >> 2) & 3, data[i + 2] >> 4
    if version == 1 or layer == 0 or rate_index == 3 or kbps_index in (0, 15):
        return None
    kbps = MPEG_KBPS[(3 if version == 3 else 2, layer)][kbps_index]
    rate = MPEG_RATES[version][rate_index]
    padding = (data[i + 2] >> 1) & 1
    if layer == 3:
        length = (12000 * kbps // rate + padding) * 4
    elif layer == 1 and version != 3:
        length = 72000 * kbps // rate + padding
    else:
        length = 144000 * kbps // rate + padding
    name = "MP3" if layer == 1 else "MPEG layer %s" % ("I" if layer == 3 else "II")
    return length, (version, layer, rate), "%s %d kbit/s %d Hz" % (name, kbps, rate)


def adts_frame(data, i):
    if i + 7 > len(data) or data[i] != 0xFF or data[i + 1] & 0xF6 != 0xF0:
        return None
    profile, rate_index = data[i + 2] >> 6, (data[i + 2] >> 2) & 0xF
    length = ((data[i + 3] & 3) << 11) | (data[i + 4] << 3) | (data[i + 5] >> 5)
    if rate_index >= len(ADTS_RATES) or length < 7:
        return None
    return (length, (profile, rate_index),
            "AAC %s %d Hz" % (AAC_PROFILES[profile], ADTS_RATES[rate_index]))


def framed(data, reader):
    """The description of the first frame that a frame of the same stream
    kind follows (bit rates may change from frame to frame)."""
    for i in range(len(data)):
        frame = reader(data, i)
        if frame:
            following = reader(data, i + frame[0])
            if following and following[1] == frame[1]:
                return frame[2]
    return None


def skip_id3(data):
    if len(data) >= 10 and data[:3] == b"ID3" and all(b < 0x80 for b in data[6:10]):
        size = (data[6] << 21) | (data[7] << 14) | (data[8] << 7) | data[9]
        return data[10 + size:]
    return data


def ogg_codec(data):
    """"Ogg CODEC" when data holds an Ogg page header; the codec from the
    first packet of that page."""
    start = data.find(b"OggS")
    if start < 0 or len(data) < start + 27 or data[start + 4] != 0:
        return None
    first = data[start + 27 + data[start + 26]:][:8]
    for magic, codec in OGG_CODECS:
        if first.startswith(magic):
            return "Ogg " + codec
    return "Ogg"


def sniff(data):
    """"MP3 ...", "AAC ...", "Ogg ..." or what else the bytes are."""
    kind = ogg_codec(data)
    if kind:
        return kind
    data = skip_id3(data)
    kind = framed(data, mpeg_frame) or framed(data, adts_frame)
    if kind:
        return kind
    head = data[:256].lstrip().lower()
    if head.startswith((b"<!doctype html", b"<html")) or b"<html" in head:
        return "HTML"
    return None


def without_metadata(data, metaint):
    """The audio of a body that carries an ICY metadata block every metaint bytes."""
    audio, pos = b"", 0
    while pos < len(data):
        audio += data[pos:pos + metaint]
        pos += metaint
        if pos < len(data):
            pos += 1 + data[pos] * 16
    return audio


def playlist_entry(kind, body):
    """The first stream address of a PLS or M3U playlist, None for other bodies."""
    start = body.lstrip()[:10].lower()
    if kind not in PLAYLIST_TYPES and start not in (b"[playlist]",) \
            and not start.startswith(b"#extm3u"):
        return None
    for line in body.decode("latin-1").splitlines():
        match = re.match(r"(?i)^\s*(?:file\d+\s*=\s*)?(https?://\S+)\s*$", line)
        if match:
            return match.group(1)
    return None


# --- one address ----------------------------------------------------------

def check_address(url, timeout, deadline_seconds):
    result = {"url": url, "reachable": False, "status": None, "content_type": None,
              "icy_name": None, "icy_br": None, "redirects": [], "format": None,
              "working": False, "error": None}
    deadline = time.monotonic() + deadline_seconds
    current = url

    def follow(target, label=""):
        if len(result["redirects"]) == MAX_HOPS:
            raise CheckError("more than %d redirects and playlists" % MAX_HOPS)
        result["redirects"].append(label + shown(target))
        return target

    try:
        while True:
            connection = Connection(current, timeout, deadline)
            try:
                result["reachable"] = True
                status, headers = connection.read_head()
                result["status"] = status
                for field, header in (("content_type", "content-type"),
                                      ("icy_name", "icy-name"), ("icy_br", "icy-br")):
                    result[field] = shown(headers[header]) if header in headers else None
                if status in REDIRECTS:
                    if "location" not in headers:
                        raise CheckError("redirect without Location")
                    current = follow(urllib.parse.urljoin(current, headers["location"]))
                    continue
                if status != 200:
                    raise CheckError("HTTP status %d" % status)
                kind = (result["content_type"] or "").split(";")[0].strip().lower()
                body = connection.read_body(SNIFF_BYTES, headers)
                entry = playlist_entry(kind, body[:MAX_PLAYLIST_BYTES])
                if entry:
                    current = follow(urllib.parse.urljoin(current, entry), "playlist: ")
                    continue
                metaint = headers.get("icy-metaint", "")
                if metaint.isdigit() and 0 < int(metaint) <= MAX_METAINT:
                    body = without_metadata(body, int(metaint))
                result["format"] = sniff(body)
                result["working"] = bool(result["format"]) and \
                    result["format"].startswith(("MP3", "AAC", "Ogg"))
                if not result["working"]:
                    raise CheckError("no MP3, AAC or Ogg audio in the first %d bytes"
                                     % len(body))
                return result
            finally:
                connection.close()
    except CheckError as error:
        result["error"] = str(error)
    except socket.timeout:
        result["error"] = "timed out"
    except ConnectionRefusedError:
        result["error"] = "connection refused"
    except (OSError, ssl.SSLError, ValueError) as error:
        result["error"] = shown(str(error))
    return result


# --- the report -------------------------------------------------------------

def read_list(source, timeout, deadline_seconds):
    if re.match(r"(?i)^https?://", source):
        connection = Connection(source, timeout, time.monotonic() + deadline_seconds)
        try:
            status, headers = connection.read_head()
            if status != 200:
                raise CheckError("the list's server answered %d" % status)
            data = connection.read_body(MAX_LIST_BYTES + 1, headers)
        finally:
            connection.close()
    else:
        with open(source, "rb") as f:
            data = f.read(MAX_LIST_BYTES + 1)
    if len(data) > MAX_LIST_BYTES:
        raise CheckError("the list is larger than %d bytes" % MAX_LIST_BYTES)
    return data


def describe(result):
    parts = [shown(result["url"])]
    if result["status"] is not None:
        parts.append(str(result["status"]))
    for field in ("content_type", "format"):
        if result[field]:
            parts.append(result[field])
    if result["icy_name"] is not None:
        parts.append("icy-name %r" % result["icy_name"])
    if result["icy_br"] is not None:
        parts.append("icy-br %s" % result["icy_br"])
    parts.append("ok" if result["working"] else "FAILED: %s" % result["error"])
    lines = ["  " + "  ".join(parts)]
    lines += ["      -> " + hop for hop in result["redirects"]]
    return "\n".join(lines)


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("list", help="channels.xml file or its http(s) address")
    ap.add_argument("--timeout", type=float, default=5.0,
                    help="seconds to wait for a connection or a read (default 5)")
    ap.add_argument("--deadline", type=float, default=15.0,
                    help="seconds one address may take in all (default 15)")
    ap.add_argument("--jobs", type=int, default=8, help="addresses checked at once")
    ap.add_argument("--json", action="store_true", help="print the report as JSON")
    args = ap.parse_args(argv[1:])
    try:
        stations = parse_list(read_list(args.list, args.timeout, args.deadline))
    except (CheckError, OSError, socket.timeout) as error:
        print("check-stations: %s: %s" % (args.list, error or "timed out"), file=sys.stderr)
        return 2

    addresses = sorted({url for _, _, servers in stations for url in servers})
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        checked = dict(zip(addresses, pool.map(
            lambda url: check_address(url, args.timeout, args.deadline), addresses)))
    report = []
    for ident, name, servers in stations:
        results = [checked[url] for url in servers]
        report.append({"id": ident, "name": name, "servers": results,
                       "working": any(r["working"] for r in results)})
    failed = [station for station in report if not station["working"]]

    if args.json:
        json.dump({"stations": report, "failed": len(failed)}, sys.stdout, indent=1)
        print()
    else:
        for station in report:
            print("%d %s: %s" % (station["id"], shown(station["name"]),
                                 "ok" if station["working"] else "NO WORKING ADDRESS"))
            for result in station["servers"]:
                print(describe(result))
        print("%d stations, %d without a working address" % (len(report), len(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
