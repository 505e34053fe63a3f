#!/usr/bin/env python3
"""Serves the station directory (www/) on 127.0.0.1, and misbehaves on request.

The mode of a request comes from its query string (?mode=NAME) or, without
one, from --mode:

  normal       the file with a correct Content-Length
  nolength     the file without Content-Length (closed at the end)
  shortlength  a Content-Length of half the file, then a pause, then the
               whole file: the client has the head before any of the body
  shortlength-together
               a Content-Length of half the file and the whole file in one
               write with the head: the client gets all of it at once
  longlength   a Content-Length larger than the file; closes after the file
  drip         the file in small pieces with pauses between them
  reset        half the file, then the connection is reset
  404, 500     that status with an HTML error page
  redirect     302 to the same path in normal mode
  empty        200 with Content-Length 0 and no body
  endless      200 without Content-Length and a body that never ends
  stall        the head and the first bytes of the file, then silence
  cacheable    the file marked cacheable for an hour, with an XML comment
               appended that numbers the request and tells whether it asked
               for a fresh copy (no-cache): "<!-- request N fresh=yes -->"

With --control-port the server also listens for commands on that port:
/down stops answering on the main port (connections are refused), /up
listens again on the same port, /mode?set=NAME changes the default mode.

On start it prints "port N" (and "control N") on stdout, so a caller that
asked for port 0 learns the port it got.
"""
import argparse
import http.server
import os
import socket
import struct
import sys
import threading
import time
import urllib.parse

MODES = ("normal", "nolength", "shortlength", "shortlength-together", "longlength", "drip",
         "reset", "404", "500", "redirect", "empty", "endless", "stall", "cacheable")
ENDLESS_PIECE = b"<!-- " + b"x" * 4080 + b" -->\n"
STALL_SECONDS = 120
DRIP_PIECE = 64
RESET_PAUSE = 0.2
HEAD_PAUSE = 0.2

# Shaped like the pages common web servers send: HTML, not well-formed XML.
ERROR_PAGE = ("<html>\r\n<head><title>{code} {reason}</title></head>\r\n<body>\r\n"
              "<center><h1>{code} {reason}</h1></center>\r\n<p>{path}\r\n"
              "<hr><center>dirserver</center>\r\n</body>\r\n</html>\r\n")


class State:
    def __init__(self, root, mode, drip_delay):
        self.root = os.path.realpath(root)
        self.mode = mode
        self.drip_delay = drip_delay
        self.requests = 0  # of the cacheable mode
        self.lock = threading.Lock()
        self.server = None
        self.thread = None


class DirectoryHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "dirserver/1"
    state = None  # set on the subclass made per server

    def log_message(self, fmt, *args):
        if self.server.verbose:
            sys.stderr.write("dirserver: " + (fmt % args) + "\n")

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        mode = query.get("mode", [self.state.mode])[0]
        if mode not in MODES:
            self.send_error_page(400, "Bad Request", url.path)
            return
        if mode in ("404", "500"):
            self.send_error_page(int(mode), "Not Found" if mode == "404" else
                                 "Internal Server Error", url.path)
            return
        if mode == "redirect":
            self.send_response(302)
            self.send_header("Location", url.path + "?mode=normal")
            self.send_header("Content-Length", "0")
            self.send_header("Cache-Control", "no-store")
            self.end_headers()
            return
        body = self.read_file(url.path)
        if body is None:
            self.send_error_page(404, "Not Found", url.path)
            return
        if mode == "empty":
            body = b""
        if mode == "cacheable":
            with self.state.lock:
                self.state.requests += 1
                fresh = any("no-cache" in self.headers.get(name, "").lower()
                            for name in ("Cache-Control", "Pragma"))
                body += b"<!-- request %d fresh=%s -->\n" % (
                    self.state.requests, b"yes" if fresh else b"no")
        if mode == "shortlength-together":
            # The head and the whole body in one write, not the head first.
            head = ("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nCache-Control: no-store\r\n"
                    f"Content-Length: {max(len(body) // 2, 1)}\r\nConnection: close\r\n\r\n")
            self.wfile.write(head.encode() + body)
            self.close_connection = True
            return
        self.send_response(200)
        self.send_header("Content-Type", "text/xml")
        if mode == "cacheable":
            self.send_header("Cache-Control", "public, max-age=3600")
            self.send_header("Last-Modified", "Mon, 07 Dec 2026 08:00:00 GMT")
        else:
            self.send_header("Cache-Control", "no-store")
        if mode in ("nolength", "endless"):
            self.send_header("Connection", "close")
            self.close_connection = True
        elif mode == "shortlength":
            self.send_header("Content-Length", str(max(len(body) // 2, 1)))
            # Said, so no client keeps the connection for another request
            # with the rest of this body still in it.
            self.send_header("Connection", "close")
            self.close_connection = True
        elif mode == "longlength":
            self.send_header("Content-Length", str(len(body) * 2))
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if mode == "shortlength":
            self.wfile.flush()
            time.sleep(HEAD_PAUSE)
        if mode == "endless":
            try:
                while True:
                    self.wfile.write(ENDLESS_PIECE)
            except OSError:
                self.close_connection = True  # the client gave up, as it should
        elif mode == "stall":
            self.wfile.write(body[:DRIP_PIECE])
            self.wfile.flush()
            # Holds the connection open without a byte more, until the
            # client gives up (its reads then fail) or the time is over.
            self.connection.settimeout(STALL_SECONDS)
            try:
                self.connection.recv(1)
            except OSError:
                pass
            self.close_connection = True
        elif mode == "drip":
            for start in range(0, len(body), DRIP_PIECE):
                self.wfile.write(body[start:start + DRIP_PIECE])
                self.wfile.flush()
                time.sleep(self.state.drip_delay)
        elif mode == "reset":
            self.wfile.write(body[:len(body) // 2])
            self.wfile.flush()
            # Let the client take in what was sent, so the reset meets a
            # reader waiting for more rather than unread data.
            time.sleep(RESET_PAUSE)
            # Linger 0: close sends RST instead of FIN.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                       struct.pack("ii", 1, 0))
            self.connection.close()
            self.close_connection = True
        else:
            self.wfile.write(body)

    def setup(self):
        super().setup()
        self.server.track(self.connection, True)

    def finish(self):
        self.server.track(self.connection, False)
        try:
            super().finish()
        except OSError:
            pass  # the reset mode closed the socket already

    def read_file(self, path):
        target = os.path.realpath(os.path.join(self.state.root,
                                               urllib.parse.unquote(path).lstrip("/")))
        if not target.startswith(self.state.root + os.sep) or not os.path.isfile(target):
            return None
        with open(target, "rb") as f:
            return f.read()

    def send_error_page(self, code, reason, path):
        page = ERROR_PAGE.format(code=code, reason=reason,
                                 path=path.replace("<", "&lt;")).encode()
        self.send_response(code, reason)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(page)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(page)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    verbose = False

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.live = set()
        self.live_lock = threading.Lock()

    def track(self, connection, alive):
        with self.live_lock:
            if alive:
                self.live.add(connection)
            else:
                self.live.discard(connection)

    def drop_connections(self):
        """Ends kept-alive connections too, so "down" means nobody answers."""
        with self.live_lock:
            for connection in self.live:
                try:
                    connection.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
            self.live.clear()


def start_main(state, host, port, verbose):
    handler = type("Handler", (DirectoryHandler,), {"state": state})
    server = Server((host, port), handler)
    server.verbose = verbose
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    state.server, state.thread = server, thread
    return server.server_address[1]


def stop_main(state):
    if state.server:
        state.server.shutdown()
        state.server.server_close()
        state.server.drop_connections()
        state.thread.join()
        state.server = state.thread = None


def control_handler(state, host, port, verbose):
    class Control(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, fmt, *args):
            if verbose:
                sys.stderr.write("dirserver control: " + (fmt % args) + "\n")

        def do_GET(self):
            url = urllib.parse.urlsplit(self.path)
            answer, code = "ok\n", 200
            with state.lock:
                if url.path == "/down":
                    stop_main(state)
                elif url.path == "/up":
                    if not state.server:
                        start_main(state, host, port, verbose)
                elif url.path == "/mode":
                    mode = urllib.parse.parse_qs(url.query).get("set", [""])[0]
                    if mode in MODES:
                        state.mode = mode
                    else:
                        answer, code = "unknown mode\n", 400
                else:
                    answer, code = "unknown command\n", 404
            data = answer.encode()
            self.send_response(code)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(data)))
            self.send_header("Cache-Control", "no-store")
            self.end_headers()
            self.wfile.write(data)
    return Control


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description="Station directory test server.")
    parser.add_argument("--root", default=os.path.join(here, "..", "..", "www"))
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=8080, help="0 takes a free port")
    parser.add_argument("--control-port", type=int, default=None,
                        help="listen for /down, /up, /mode on this port (0: any)")
    parser.add_argument("--mode", default="normal", choices=MODES)
    parser.add_argument("--drip-delay", type=float, default=0.01,
                        help="seconds between the pieces of the drip mode")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()

    state = State(args.root, args.mode, args.drip_delay)
    port = start_main(state, args.host, args.port, args.verbose)
    print("port %d" % port, flush=True)
    if args.control_port is not None:
        control = Server((args.host, args.control_port),
                         control_handler(state, args.host, port, args.verbose))
        print("control %d" % control.server_address[1], flush=True)
        try:
            control.serve_forever()
        except KeyboardInterrupt:
            pass
        control.server_close()
    else:
        try:
            threading.Event().wait()
        except KeyboardInterrupt:
            pass
    with state.lock:
        stop_main(state)


if __name__ == "__main__":
    main()
