#!/usr/bin/env python3
"""tools/check-stations against local servers: the test radio (MP3, Ogg, an
ICY status line, redirects, a 404), a refused port, and a small server of our
own for what the radio does not send (an HTML page, AAC frames, hostile
answers). The list comes from the directory server, as a release's would.

  check_stations_test.py WORK_DIR
"""
import json
import os
import socket
import socketserver
import subprocess
import sys
import threading
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
CHECKER = os.path.join(ROOT, "tools", "check-stations", "check_stations.py")
LIST_PATH = "dwl/programs/orvantis/channels.xml"
TIMEOUT, DEADLINE = 1, 3
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def adts_stream(frames=40, length=200):
    """AAC-LC, 44.1 kHz, stereo ADTS frames with silent payloads."""
    header = bytes([0xFF, 0xF1, 0x50, 0x80 | (length >> 11), (length >> 3) & 0xFF,
                    ((length & 7) << 5) | 0x1F, 0xFC])
    return (header + bytes(length - 7)) * frames


class Hostile(socketserver.BaseRequestHandler):
    def handle(self):
        try:
            self.request.recv(4096)
            path = self.server.paths.get(self.request.getsockname()[1])
            send = self.request.sendall
            if path == "page":
                body = b"<!DOCTYPE html>\n<html><body>We moved.</body></html>\n"
                send(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n"
                     % len(body) + body)
            elif path == "adts":
                send(b"HTTP/1.0 200 OK\r\nContent-Type: audio/aac\r\nicy-name: AAC\r\n\r\n"
                     + adts_stream())
            elif path == "endless":      # one header line that never ends
                send(b"HTTP/1.0 200 OK\r\nX-Long: ")
                for _ in range(256):
                    send(b"a" * 4096)
            elif path == "drip":         # a byte now and then, never a whole head
                for byte in b"HTTP/1.0 200 OK\r\nicy-name: slow\r\n" * 100:
                    send(bytes([byte]))
                    time.sleep(0.5)
        except OSError:
            pass


def start(command):
    process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
    port = int(process.stdout.readline().split()[-1])
    return process, port


def refused_port():
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    return port


def station(ident, name, *urls):
    servers = "".join('<server url="%s"/>' % url.replace("&", "&amp;") for url in urls)
    return ('<station><id value="%d"/><name value="%s"/><serverlist>%s</serverlist></station>'
            % (ident, name, servers))


def run_checker(source):
    run = subprocess.run([sys.executable, CHECKER, "--json", "--timeout", str(TIMEOUT),
                          "--deadline", str(DEADLINE), source],
                         stdout=subprocess.PIPE, timeout=120)
    return run.returncode, json.loads(run.stdout)


def main(work):
    www = os.path.join(work, "www")
    os.makedirs(os.path.join(www, os.path.dirname(LIST_PATH)), exist_ok=True)
    radio, radio_port = start([sys.executable, os.path.join(ROOT, "tools/radio/radio_server.py"),
                               "--media", os.path.join(work, "media")])
    directory, directory_port = start([sys.executable,
                                       os.path.join(ROOT, "tools/dirserver/dirserver.py"),
                                       "--root", www, "--port", "0"])
    hostile = {}
    servers = []
    for path in ("page", "adts", "endless", "drip"):
        server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Hostile)
        server.daemon_threads = True
        server.paths = hostile
        hostile[server.server_address[1]] = path
        threading.Thread(target=server.serve_forever, daemon=True).start()
        servers.append(server)
    own = {path: "http://127.0.0.1:%d/" % port for port, path in hostile.items()}
    radio_url = "http://127.0.0.1:%d" % radio_port
    try:
        stations = [
            station(1, "Live", radio_url + "/stream.mp3"),
            station(2, "Ogg and ICY", radio_url + "/stream.ogg", radio_url + "/stream.mp3?icy=1"),
            station(3, "Moved", radio_url + "/missing", radio_url + "/hop?n=2"),
            station(4, "AAC", own["adts"]),
            station(5, "Gone", radio_url + "/missing", "http://127.0.0.1:%d/" % refused_port(),
                    own["page"]),
            station(6, "Hostile", own["endless"], own["drip"], radio_url + "/loop"),
        ]
        with open(os.path.join(www, LIST_PATH), "w") as f:
            f.write('<?xml version="1.0"?>\n<orvantisclient version="3"><stationlist>%s'
                    "</stationlist></orvantisclient>\n" % "".join(stations))
        started = time.monotonic()
        code, report = run_checker("http://127.0.0.1:%d/%s" % (directory_port, LIST_PATH))
        elapsed = time.monotonic() - started
        by_name = {s["name"]: s for s in report["stations"]}
        check([s["name"] for s in report["stations"]] ==
              ["Live", "Ogg and ICY", "Moved", "AAC", "Gone", "Hostile"], "stations in file order")
        check(code == 1 and report["failed"] == 2, "exit %d, failed %s; expected 1, 2"
              % (code, report["failed"]))
        check([by_name[n]["working"] for n in by_name] == [True] * 4 + [False] * 2,
              "working: %s" % [by_name[n]["working"] for n in by_name])
        # Slow and endless servers are cut off, not waited for.
        check(elapsed < DEADLINE * 3, "took %.1f s" % elapsed)

        def expect(name, index, **want):
            got = by_name[name]["servers"][index]
            for key, value in want.items():
                have = got[key]
                prefix = key in ("format", "error") and have
                ok = have.startswith(value) if prefix else have == value
                check(ok, "%s #%d %s: %r, expected %r" % (name, index, key, have, value))

        expect("Live", 0, reachable=True, status=200, content_type="audio/mpeg",
               icy_name="Orvantis Test Radio", icy_br="128", format="MP3 128 kbit/s 44100 Hz",
               redirects=[], working=True, error=None)
        expect("Ogg and ICY", 0, status=200, content_type="application/ogg", icy_br="96",
               format="Ogg Vorbis", working=True)
        expect("Ogg and ICY", 1, status=200, format="MP3", working=True)
        expect("Moved", 0, reachable=True, status=404, working=False, error="HTTP status 404")
        expect("Moved", 1, status=200, format="MP3", working=True,
               redirects=[radio_url + "/hop?n=1", radio_url + "/stream.mp3?fast=1"])
        expect("AAC", 0, status=200, content_type="audio/aac", icy_name="AAC",
               format="AAC LC 44100 Hz", working=True)
        expect("Gone", 1, reachable=False, status=None, error="connection refused")
        expect("Gone", 2, status=200, content_type="text/html", format="HTML", working=False)
        expect("Hostile", 0, status=None, error="header line longer", working=False)
        expect("Hostile", 1, status=None, error="timed out", working=False)
        expect("Hostile", 2, status=302, error="more than 5 redirects", working=False)

        # Only working stations, read from a file: exit status 0.
        with open(os.path.join(work, "good.xml"), "w") as f:
            f.write('<orvantisclient version="3"><stationlist>%s</stationlist></orvantisclient>'
                    % "".join(stations[:4]))
        code, report = run_checker(os.path.join(work, "good.xml"))
        check(code == 0 and report["failed"] == 0, "good list: exit %d" % code)
    finally:
        for process in (radio, directory):
            process.terminate()
            process.wait()
        for server in servers:
            server.shutdown()
            server.server_close()
    for message in failures:
        print("FAIL: " + message)
    print("check-stations: %s" % ("ok" if not failures else "%d failures" % len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
