#!/usr/bin/env python3
"""HTTPS in front of a plain test radio, with test certificates made at start.

Makes, in a folder of its own, a test root CA, an intermediate CA under it and
server certificates, none of which is ever kept: every run has new keys. Then
listens on 127.0.0.1 with one port per certificate and passes every request,
decrypted, to the plain radio server (--upstream), so each of its modes works
over TLS as well:

  good        localhost, signed by the intermediate (sent with it)
  expired     localhost, its validity ended a month ago
  wrong-host  names only elsewhere.test
  untrusted   localhost, from a root of its own that nobody trusts (sent with it)
  unknown-issuer  localhost, signed by a CA that is neither sent nor in any store
  optional-client-cert  the good certificate; the server asks the client for a
              certificate of the test root's and goes on without one
  issuer-by-url, second-issuer-by-url  localhost, each signed by an
              intermediate of its own under the test root, which is not sent:
              the certificate names where it is (authority information access),
              http://<name>.stuck.test:<port>/<name>.der, a plain HTTP server of
              ours by a name only with_servers.sh --stuck-names resolves (and
              can hold)

Prints "PORT <good>", then "TLS <name> <port>" for each and
"CA <path of the test root, DER>", then "READY". The test root is what a
client has to trust. Runs until stdin closes or it is terminated.

As a module: make_certificates(folder, issuer_port) and TlsFront(upstream_port, folder).
"""
import argparse
import datetime
import http.server
import os
import select
import signal
import socket
import socketserver
import ssl
import sys
import tempfile
import threading

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import AuthorityInformationAccessOID, ExtendedKeyUsageOID, NameOID

KEY_BITS = 2048
RELAY_PIECE = 16384
HANDSHAKE_TIMEOUT_S = 10
IDLE_TIMEOUT_S = 120
BY_URL = ("issuer-by-url", "second-issuer-by-url")
NAMES = ("good", "expired", "wrong-host", "untrusted", "unknown-issuer", "optional-client-cert",
         *BY_URL)
# Fronts that ask for a client certificate, and the certificate they show.
ASK_CLIENT = {"optional-client-cert": "good"}


def _key():
    return rsa.generate_private_key(public_exponent=65537, key_size=KEY_BITS)


def _name(text):
    return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, text),
                      x509.NameAttribute(NameOID.ORGANIZATION_NAME, "Orvantis tests")])


def _certificate(subject, key, issuer, issuer_key, start, end, ca=False, dns=None,
                 issuer_url=None):
    b = (x509.CertificateBuilder().subject_name(_name(subject)).issuer_name(_name(issuer))
         .public_key(key.public_key()).serial_number(x509.random_serial_number())
         .not_valid_before(start).not_valid_after(end))
    b = b.add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True)
    if ca:
        b = b.add_extension(x509.KeyUsage(
            digital_signature=True, key_cert_sign=True, crl_sign=True, content_commitment=False,
            key_encipherment=False, data_encipherment=False, key_agreement=False,
            encipher_only=False, decipher_only=False), critical=True)
    else:
        b = b.add_extension(x509.ExtendedKeyUsage([ExtendedKeyUsageOID.SERVER_AUTH]),
                            critical=False)
        b = b.add_extension(x509.SubjectAlternativeName([x509.DNSName(n) for n in dns]),
                            critical=False)
    if issuer_url:
        b = b.add_extension(x509.AuthorityInformationAccess([x509.AccessDescription(
            AuthorityInformationAccessOID.CA_ISSUERS, x509.UniformResourceIdentifier(issuer_url))]),
            critical=False)
    return b.sign(issuer_key, hashes.SHA256())


def _pem(cert):
    return cert.public_bytes(serialization.Encoding.PEM)


def issuer_url(name, port):
    return f"http://{name}.stuck.test:{port}/{name}.der"


def make_certificates(folder, issuer_port):
    """Writes <name>.pem (certificate, chain and key) for every name in NAMES,
    test-root.der / test-root.pem and, for the names in BY_URL, <name>.der,
    the intermediate the issuer server on issuer_port must serve; returns
    {name: pem path}."""
    now = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
    day = datetime.timedelta(days=1)
    root_key, inter_key, leaf_key, stranger_key, unknown_key = (_key() for _ in range(5))
    root = _certificate("Orvantis Test Root", root_key, "Orvantis Test Root", root_key,
                        now - day, now + 365 * day, ca=True)
    inter = _certificate("Orvantis Test Intermediate", inter_key, "Orvantis Test Root", root_key,
                         now - day, now + 365 * day, ca=True)
    stranger = _certificate("Orvantis Stranger Root", stranger_key, "Orvantis Stranger Root",
                            stranger_key, now - day, now + 365 * day, ca=True)
    leaves = {
        "good": (_certificate("localhost", leaf_key, "Orvantis Test Intermediate", inter_key,
                              now - day, now + 30 * day, dns=["localhost"]), inter),
        "expired": (_certificate("localhost", leaf_key, "Orvantis Test Intermediate", inter_key,
                                 now - 60 * day, now - 30 * day, dns=["localhost"]), inter),
        "wrong-host": (_certificate("elsewhere.test", leaf_key, "Orvantis Test Intermediate",
                                    inter_key, now - day, now + 30 * day,
                                    dns=["elsewhere.test"]), inter),
        "untrusted": (_certificate("localhost", leaf_key, "Orvantis Stranger Root", stranger_key,
                                   now - day, now + 30 * day, dns=["localhost"]), stranger),
        # The issuer's own certificate is made nowhere: only its name and key.
        "unknown-issuer": (_certificate("localhost", leaf_key, "Orvantis Unknown CA", unknown_key,
                                        now - day, now + 30 * day, dns=["localhost"]), None),
    }
    fetched = {}
    for name in BY_URL:
        subject = f"Orvantis Test Intermediate for {name}"
        fetched[name] = _certificate(subject, inter_key, "Orvantis Test Root", root_key,
                                     now - day, now + 365 * day, ca=True)
        leaves[name] = (_certificate("localhost", leaf_key, subject, inter_key, now - day,
                                     now + 30 * day, dns=["localhost"],
                                     issuer_url=issuer_url(name, issuer_port)), None)
    for name, shown in ASK_CLIENT.items():
        leaves[name] = leaves[shown]
    key_pem = leaf_key.private_bytes(serialization.Encoding.PEM,
                                     serialization.PrivateFormat.TraditionalOpenSSL,
                                     serialization.NoEncryption())
    paths = {}
    for name, (leaf, chain) in leaves.items():
        path = os.path.join(folder, name + ".pem")
        with open(path, "wb") as f:
            f.write(_pem(leaf) + (_pem(chain) if chain else b"") + key_pem)
        paths[name] = path
    with open(os.path.join(folder, "test-root.der"), "wb") as f:
        f.write(root.public_bytes(serialization.Encoding.DER))
    with open(os.path.join(folder, "test-root.pem"), "wb") as f:
        f.write(_pem(root))
    for name, cert in fetched.items():
        with open(os.path.join(folder, name + ".der"), "wb") as f:
            f.write(cert.public_bytes(serialization.Encoding.DER))
    return paths


def relay(a, b):
    """Passes bytes both ways until one side ends."""
    a.settimeout(IDLE_TIMEOUT_S)
    b.settimeout(IDLE_TIMEOUT_S)
    while True:
        # Decrypted bytes may wait inside the TLS object, unseen by select.
        ready = [a] if isinstance(a, ssl.SSLSocket) and a.pending() else []
        if not ready:
            ready, _, _ = select.select([a, b], [], [], IDLE_TIMEOUT_S)
        if not ready:
            return
        for s in ready:
            data = s.recv(RELAY_PIECE)
            if not data:
                return
            (b if s is a else a).sendall(data)


class Front(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, pem, upstream_port, client_ca=None):
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.minimum_version = ssl.TLSVersion.TLSv1_2
        self.context.load_cert_chain(pem)
        if client_ca:
            # A CertificateRequest naming this CA; a client without one is let in.
            self.context.verify_mode = ssl.CERT_OPTIONAL
            self.context.load_verify_locations(client_ca)
        self.upstream_port = upstream_port
        super().__init__(("127.0.0.1", 0), FrontHandler)


class FrontHandler(socketserver.BaseRequestHandler):
    def handle(self):
        raw = self.request
        raw.settimeout(HANDSHAKE_TIMEOUT_S)
        try:
            tls = self.server.context.wrap_socket(raw, server_side=True)
        except (ssl.SSLError, OSError):
            return  # the client refused our certificate, or spoke no TLS
        try:
            with socket.create_connection(("127.0.0.1", self.server.upstream_port)) as up:
                relay(tls, up)
        except (ssl.SSLError, OSError):
            pass
        finally:
            try:
                tls.close()
            except OSError:
                pass


class IssuerServer(http.server.ThreadingHTTPServer):
    """Plain HTTP, where the BY_URL certificates say their issuers are."""
    daemon_threads = True

    def __init__(self):
        self.files = {}  # path -> DER
        super().__init__(("127.0.0.1", 0), IssuerHandler)


class IssuerHandler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        found = self.path in self.server.files
        body = self.server.files.get(self.path, b"")
        self.send_response(200 if found else 404)
        self.send_header("Content-Type", "application/pkix-cert")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


class TlsFront:
    """One Front per certificate, each on a thread of its own, and the
    server of the intermediate for the issuer-by-url certificate."""

    def __init__(self, upstream_port, folder):
        self.folder = folder
        self.issuers = IssuerServer()
        self.paths = make_certificates(folder, self.issuers.server_address[1])
        for name in BY_URL:
            with open(os.path.join(folder, name + ".der"), "rb") as f:
                self.issuers.files[f"/{name}.der"] = f.read()
        self.ca = os.path.join(folder, "test-root.der")
        root_pem = os.path.join(folder, "test-root.pem")
        self.servers = {name: Front(self.paths[name], upstream_port,
                                    root_pem if name in ASK_CLIENT else None)
                        for name in NAMES}
        self.threads = []
        for server in [*self.servers.values(), self.issuers]:
            t = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2},
                                 daemon=True)
            t.start()
            self.threads.append(t)

    def port(self, name):
        return self.servers[name].server_address[1]

    def close(self):
        for server in [*self.servers.values(), self.issuers]:
            server.shutdown()
            server.server_close()
        for t in self.threads:
            t.join()


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--upstream", type=int, required=True, help="port of the plain radio server")
    ap.add_argument("--dir", help="folder for the certificates (default: a temp folder)")
    args = ap.parse_args()
    folder = args.dir or tempfile.mkdtemp(prefix="tls-radio-")
    os.makedirs(folder, exist_ok=True)
    front = TlsFront(args.upstream, folder)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        print(f"PORT {front.port('good')}", flush=True)
        for name in NAMES:
            print(f"TLS {name} {front.port(name)}", flush=True)
        print(f"CA {front.ca}", flush=True)
        print("READY", flush=True)
        sys.stdin.read()  # until our parent closes the pipe
    finally:
        front.close()


if __name__ == "__main__":
    main()
