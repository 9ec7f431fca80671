#!/usr/bin/env python3
"""A scriptable HTTPS stand-in for the Quillabrenta service, for tests and demos.

Start:  fake_service.py --port 0 --cert-dir DIR
It makes (or reuses) a self-signed CA and a server certificate for 127.0.0.1/localhost in DIR,
prints one line "READY https://127.0.0.1:<port> <DIR>/ca.pem" and serves until it is killed, gets
SIGTERM/SIGINT, or its standard input (when that is a pipe) reaches end of file.

Every request outside /__control/ is recorded and answered from, in this order: the scripted
queue of its endpoint, the endpoint's random failures, the endpoint's scripted default, and the
built-in behaviour. Control API (JSON over the same port):
  POST /__control/script          {"path", "method" (optional, any method when left out),
                                   "responses": [answer, ...], "default": answer (optional)}
  POST /__control/random-failures {"path", "method" (optional), "rate", "seed",
                                   "kinds": ["500", "reset", "timeout", <status text>...]}
  GET  /__control/requests        every recorded request, oldest first
  POST /__control/reset           forgets scripts, failures, records and pairing codes
An answer is {"status": 200, "body": <JSON value, or a text sent as it is>,
"headers": {...}, "delay": seconds} or {"reset": true} (connection closed without an answer)
or {"timeout": true} (no answer for 30 s, then closed).
"""

import argparse
import fcntl
import http.server
import json
import os
import random
import secrets
import signal
import socket
import ssl
import stat
import struct
import subprocess
import sys
import threading
import urllib.parse
from collections import deque

TIMEOUT_SECONDS = 30.0
MAX_BODY_BYTES = 64 * 1024 * 1024

BUILTIN_DEFAULTS = {
    ("POST", "/api/native/capture/reconcile"): {"status": 200, "body": {"ok": True}},
    ("GET", "/api/native/capture/ratings"): {
        "status": 200,
        "body": {"enabled": True, "baseline_snapshot": ""},
    },
    ("POST", "/api/native/capture/ratings"): {"status": 200, "body": {"ok": True}},
    ("POST", "/api/native/now-playing"): {
        "status": 200,
        "body": {"accepted": True, "heartbeat_seconds": 20},
    },
    ("GET", "/api/native/capture/mac/companion-context"): {"status": 200, "body": {"ok": True}},
    ("GET", "/api/native/capture/mac/identity"): {
        "status": 200,
        "body": {"ok": True, "account_email": "listener@example.com"},
    },
    ("POST", "/api/native/capture/mac/disconnect"): {"status": 200, "body": {}},
}

CONNECT_PATH = "/native/mac-capture/connect"
EXCHANGE_PATH = "/api/native/capture/mac/exchange"
CALLBACK_PREFIX = "quillabrenta-capture://auth"


def run_openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)


def ensure_certificates(cert_dir):
    """Creates ca.pem/ca.key and server.pem/server.key in cert_dir unless they exist."""
    os.makedirs(cert_dir, exist_ok=True)
    names = {name: os.path.join(cert_dir, name)
             for name in ("ca.pem", "ca.key", "server.pem", "server.key")}
    with open(os.path.join(cert_dir, ".lock"), "w") as lock:
        # Several services may share one directory; only one makes the files.
        fcntl.flock(lock, fcntl.LOCK_EX)
        if all(os.path.exists(path) for path in names.values()):
            return names
        tmp = {name: path + ".tmp" for name, path in names.items()}
        csr = os.path.join(cert_dir, "server.csr.tmp")
        ext = os.path.join(cert_dir, "server.ext.tmp")
        curve = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
        run_openssl("req", "-x509", *curve, "-keyout", tmp["ca.key"], "-out", tmp["ca.pem"],
                    "-days", "3650", "-subj", "/CN=Quillabrenta Fake Service CA",
                    "-addext", "basicConstraints=critical,CA:TRUE",
                    "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        run_openssl("req", "-new", *curve, "-keyout", tmp["server.key"], "-out", csr,
                    "-subj", "/CN=127.0.0.1")
        with open(ext, "w") as f:
            f.write("basicConstraints=CA:FALSE\n"
                    "keyUsage=critical,digitalSignature,keyEncipherment\n"
                    "extendedKeyUsage=serverAuth\n"
                    "subjectAltName=IP:127.0.0.1,DNS:localhost\n")
        run_openssl("x509", "-req", "-in", csr, "-CA", tmp["ca.pem"], "-CAkey", tmp["ca.key"],
                    "-set_serial", str(secrets.randbits(63)), "-days", "825",
                    "-extfile", ext, "-out", tmp["server.pem"])
        for path in (csr, ext):
            os.remove(path)
        # The CA last, so that its presence means the whole set is complete.
        for name in ("ca.key", "server.key", "server.pem", "ca.pem"):
            os.replace(tmp[name], names[name])
        return names


class ServiceState:
    """Scripts, random failures, recorded requests and pairing codes; guarded by one lock."""

    def __init__(self):
        self.lock = threading.Lock()
        self.shutdown = threading.Event()
        self.origin = ""
        self.clear()

    def clear(self):
        self.scripts = {}   # (method or "*", path) -> {"queue": deque, "default": answer}
        self.failures = {}  # (method or "*", path) -> {"rate", "rng", "kinds"}
        self.requests = []
        self.codes = {}     # one-time pairing code -> {"install_id", "used"}

    @staticmethod
    def lookup(table, method, path):
        return table.get((method, path)) or table.get(("*", path))

    def scripted_answer(self, method, path):
        """The next scripted or random answer for an endpoint, or None for the built-in one."""
        with self.lock:
            script = self.lookup(self.scripts, method, path)
            if script and script["queue"]:
                return script["queue"].popleft()
            failures = self.lookup(self.failures, method, path)
            if failures and failures["rng"].random() < failures["rate"]:
                kind = failures["rng"].choice(failures["kinds"])
                if kind == "reset":
                    return {"reset": True}
                if kind == "timeout":
                    return {"timeout": True}
                return {"status": int(kind), "body": {"error": "random_failure"}}
            if script and script["default"] is not None:
                return script["default"]
        return None


class Handler(http.server.BaseHTTPRequestHandler):
    server_version = "FakeQuillabrenta/1"
    # HTTP/1.0: one request per connection, so a closed connection never hits a reused one.
    protocol_version = "HTTP/1.0"

    @property
    def state(self):
        return self.server.state

    def log_message(self, format, *args):
        if self.server.verbose:
            super().log_message(format, *args)

    def do_GET(self):
        self.dispatch()

    def do_POST(self):
        self.dispatch()

    def do_PUT(self):
        self.dispatch()

    def do_DELETE(self):
        self.dispatch()

    def do_PATCH(self):
        self.dispatch()

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        if length < 0 or length > MAX_BODY_BYTES:
            raise ValueError("bad Content-Length")
        return self.rfile.read(length) if length else b""

    def dispatch(self):
        # The target as sent: http.server collapses leading slashes in self.path, and urlsplit
        # would read "//x" as a host name.
        words = self.requestline.split()
        target = words[1] if len(words) >= 2 else self.path
        path, _, query = target.partition("?")
        path = path.partition("#")[0]
        try:
            body = self.read_body()
        except ValueError:
            self.answer({"status": 400, "body": {"error": "bad_length"}})
            return
        if path.startswith("/__control/"):
            self.control(path, body)
            return
        text = body.decode("utf-8", errors="replace")
        try:
            parsed = json.loads(text) if text else None
        except ValueError:
            parsed = None
        record = {
            "method": self.command,
            "path": path,
            "query": urllib.parse.parse_qs(query, keep_blank_values=True),
            "raw_query": query,
            "headers": {name.lower(): value for name, value in self.headers.items()},
            "body": text,
            "json": parsed,
        }
        with self.state.lock:
            self.state.requests.append(record)
        answer = self.state.scripted_answer(self.command, path)
        if answer is None:
            answer = self.builtin_answer(path, record)
        self.answer(answer)

    def builtin_answer(self, path, record):
        if self.command == "GET" and path == CONNECT_PATH:
            return self.connect_answer(record)
        if self.command == "POST" and path == EXCHANGE_PATH:
            return self.exchange_answer(record)
        default = BUILTIN_DEFAULTS.get((self.command, path))
        if default is not None:
            return default
        return {"status": 404, "body": {"error": "not_found"}}

    def connect_answer(self, record):
        install_ids = record["query"].get("install_id") or [""]
        if not install_ids[0]:
            return {"status": 400, "body": "missing install_id\n"}
        code = secrets.token_urlsafe(16)
        with self.state.lock:
            self.state.codes[code] = {"install_id": install_ids[0], "used": False}
        callback = CALLBACK_PREFIX + "?" + urllib.parse.urlencode(
            {"code": code, "base_url": self.state.origin})
        page = ("<!doctype html><title>Connect</title>"
                f'<p><a id="callback" href="{callback}">{callback}</a></p>\n')
        return {"status": 302, "headers": {"Location": callback,
                                           "Content-Type": "text/html; charset=utf-8"},
                "body": page}

    def exchange_answer(self, record):
        request = record["json"] if isinstance(record["json"], dict) else {}
        code = request.get("code")
        with self.state.lock:
            entry = self.state.codes.get(code) if isinstance(code, str) else None
            if entry is None:
                return {"status": 400, "body": {"ok": False, "error": "invalid_code"}}
            if entry["used"]:
                return {"status": 410, "body": {"ok": False, "error": "code_used"}}
            entry["used"] = True
        if request.get("install_id") != entry["install_id"]:
            return {"status": 400, "body": {"ok": False, "error": "install_mismatch"}}
        return {"status": 200, "body": {
            "ok": True,
            "token": "qbt_" + secrets.token_urlsafe(24),
            "base_url": self.state.origin,
            "account_id": "acct_fake_1",
            "account_email": "listener@example.com",
        }}

    def control(self, path, body):
        try:
            request = json.loads(body) if body else {}
        except ValueError:
            self.answer({"status": 400, "body": {"error": "bad_json"}})
            return
        state = self.state
        if self.command == "GET" and path == "/__control/requests":
            with state.lock:
                recorded = list(state.requests)
            self.answer({"status": 200, "body": recorded})
        elif self.command == "POST" and path == "/__control/reset":
            with state.lock:
                state.clear()
            self.answer({"status": 200, "body": {"ok": True}})
        elif self.command == "POST" and path == "/__control/script":
            key = (request.get("method") or "*", request.get("path", ""))
            with state.lock:
                state.scripts[key] = {"queue": deque(request.get("responses") or []),
                                      "default": request.get("default")}
            self.answer({"status": 200, "body": {"ok": True}})
        elif self.command == "POST" and path == "/__control/random-failures":
            key = (request.get("method") or "*", request.get("path", ""))
            kinds = [str(kind) for kind in request.get("kinds") or ["500"]]
            if not all(kind in ("reset", "timeout") or kind.isdigit() for kind in kinds):
                self.answer({"status": 400, "body": {"error": "bad_kind"}})
                return
            with state.lock:
                state.failures[key] = {"rate": float(request.get("rate", 0)),
                                       "rng": random.Random(request.get("seed", 0)),
                                       "kinds": kinds}
            self.answer({"status": 200, "body": {"ok": True}})
        else:
            self.answer({"status": 404, "body": {"error": "unknown_control"}})

    def answer(self, answer):
        delay = float(answer.get("delay", 0))
        if delay > 0 and self.state.shutdown.wait(delay):
            self.drop()
            return
        if answer.get("reset"):
            self.drop(reset=True)
            return
        if answer.get("timeout"):
            self.state.shutdown.wait(TIMEOUT_SECONDS)
            self.drop()
            return
        status = int(answer.get("status", 200))
        headers = dict(answer.get("headers") or {})
        body = answer.get("body", b"")
        if isinstance(body, str):
            data = body.encode("utf-8")
        elif isinstance(body, (bytes, bytearray)):
            data = bytes(body)
        else:
            data = json.dumps(body).encode("utf-8")
            headers.setdefault("Content-Type", "application/json")
        try:
            self.send_response(status)
            for name, value in headers.items():
                self.send_header(name, value)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(data)
        except OSError:
            pass

    def drop(self, reset=False):
        """Closes the connection without an answer; with reset, the peer sees a TCP reset."""
        self.close_connection = True
        if reset:
            try:
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                           struct.pack("ii", 1, 0))
            except OSError:
                pass


class FakeService(http.server.ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 128

    def __init__(self, address, context, state, verbose):
        super().__init__(address, Handler)
        self.context = context
        self.state = state
        self.verbose = verbose

    def finish_request(self, request, client_address):
        # The TLS handshake runs here, on the request's own thread, so a stalled client
        # cannot hold up the accepting loop.
        request.settimeout(TIMEOUT_SECONDS + 10)
        try:
            tls = self.context.wrap_socket(request, server_side=True)
        except (OSError, ssl.SSLError):
            return
        try:
            self.RequestHandlerClass(tls, client_address, self)
        except (OSError, ssl.SSLError):
            pass
        finally:
            tls.close()

    def handle_error(self, request, client_address):
        if self.verbose:
            super().handle_error(request, client_address)


def watch_stdin(server):
    """Stops the server when the parent closes our standard input (a pipe)."""
    try:
        mode = os.fstat(sys.stdin.fileno()).st_mode
    except OSError:
        return
    if not (stat.S_ISFIFO(mode) or stat.S_ISSOCK(mode)):
        return

    def wait_for_eof():
        while os.read(sys.stdin.fileno(), 4096):
            pass
        stop(server)

    threading.Thread(target=wait_for_eof, daemon=True).start()


def stop(server):
    server.state.shutdown.set()
    threading.Thread(target=server.shutdown, daemon=True).start()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--cert-dir", required=True)
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()

    certs = ensure_certificates(args.cert_dir)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(certs["server.pem"], certs["server.key"])

    state = ServiceState()
    server = FakeService((args.host, args.port), context, state, args.verbose)
    host, port = server.server_address[:2]
    state.origin = f"https://{host}:{port}"

    signal.signal(signal.SIGTERM, lambda *_: stop(server))
    signal.signal(signal.SIGINT, lambda *_: stop(server))
    watch_stdin(server)

    print(f"READY {state.origin} {os.path.abspath(certs['ca.pem'])}", flush=True)
    server.serve_forever(poll_interval=0.2)
    server.server_close()


if __name__ == "__main__":
    main()
