#!/usr/bin/env python3
"""A relay that cuts a player's connections to a server, as a flaky network
would.

  cut_relay.py --upstream PORT [--log FILE]
Listens on 127.0.0.1 on a free port (printed as "PORT n" on stdout) and passes
every connection through to 127.0.0.1:PORT unchanged. A request whose query
says cut_ms=N is cut N milliseconds after the relay accepted it: both sides are
closed at once, and whatever the relay held for the player is lost with them.
Appends "RELAY open <id>" and "RELAY cut <id>" (id= of the query) to the log,
in the radio server's format, so tests count them the same way. Runs until
stdin closes or it is terminated.
"""
import argparse
import select
import signal
import socket
import sys
import threading
import time
import urllib.parse

HEAD_LIMIT = 16 * 1024    # a request head longer than this is not passed on
PIECE = 64 * 1024
POLL_S = 0.05
STUCK_S = 5               # a side that takes nothing for this long ends the relay


class Relay:
    def __init__(self, upstream, log_path=None):
        self.upstream = upstream
        self.log_path = log_path
        self.log_lock = threading.Lock()
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self.accept, daemon=True).start()

    def log(self, text):
        if not self.log_path:
            return
        with self.log_lock, open(self.log_path, "a", encoding="latin-1") as f:
            f.write(text + "\n----\n")

    def accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self.serve, args=(client,), daemon=True).start()

    def serve(self, client):
        accepted = time.monotonic()
        head = b""
        client.settimeout(STUCK_S)
        with client:
            while b"\r\n\r\n" not in head and len(head) < HEAD_LIMIT:
                piece = client.recv(PIECE)
                if not piece:
                    return
                head += piece
            line = head.split(b"\r\n", 1)[0].decode("latin-1")
            parts = line.split(" ")
            query = urllib.parse.parse_qs(urllib.parse.urlsplit(parts[1]).query) if len(parts) > 1 else {}
            cut_ms = int(query.get("cut_ms", ["0"])[0])
            name = query.get("id", [""])[0]
            try:
                server = socket.create_connection(("127.0.0.1", self.upstream), timeout=STUCK_S)
            except OSError:
                return
            self.log(f"RELAY open {name}")
            with server:
                server.sendall(head)
                cut_at = accepted + cut_ms / 1000 if cut_ms > 0 else None
                if self.pump(client, server, cut_at):
                    self.log(f"RELAY cut {name}")

    def pump(self, client, server, cut_at):
        """Both ways until one side ends (False) or it is time to cut (True)."""
        ends = {client: server, server: client}
        while True:
            wait = POLL_S
            if cut_at is not None:
                wait = min(wait, cut_at - time.monotonic())
                if wait <= 0:
                    return True
            ready, _, _ = select.select(list(ends), [], [], wait)
            for s in ready:
                try:
                    data = s.recv(PIECE)
                    if not data:
                        return False
                    ends[s].sendall(data)
                except OSError:
                    return False


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--upstream", type=int, required=True)
    ap.add_argument("--log")
    args = ap.parse_args()
    relay = Relay(args.upstream, args.log)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print(f"PORT {relay.port}", flush=True)
    sys.stdin.read()  # until our parent closes the pipe


if __name__ == "__main__":
    main()
