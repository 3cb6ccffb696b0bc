#!/usr/bin/env python3
"""Fault-injecting update server for the end-to-end tests: serves a folder on 127.0.0.1 and, for chosen
paths, answers what a plain web server will not do on request.

    fault_server.py --root GAME --port 18460 [--host 127.0.0.1] [--prefix /Quorvane/] [--fault PATH=KIND[:COUNT|@NUMBER]]...
                    [--control FILE] [--log FILE] [--port-file FILE]

KIND is one of
    404, 500 (or any status from 400 to 599)  answer that status with a small HTML body
    cut      announce the full length, send half of the file, then close the connection
    corrupt  send a body of the right length whose bytes differ from the file's
    empty    answer 200 with an empty body
    stall    send the head (announcing the full length) and the first byte, then nothing more
    silent   read the request and never answer
    huge     answer 200 with a body of 20 MB whose bytes are not the file's
    padded   send 16 KB of headers before Content-Length (the full length), then half of the file, then close
    hold     keep the response back while the rules still say "hold" for the path (so with a control
             file: until that file no longer holds the rule), then serve the file; logs "HOLD PATH" when
             it starts holding, so a test can see the request arrive without relying on timing
    late     wait 1.5 s, then serve the file
    norange  ignore a Range header: answer 200 with the whole file
    onerange answer a Range of several ranges with 206 and the first of them alone
    nomulti  answer a Range of several ranges with 200 and the whole file
    badrange answer a Range request with 206 and the whole file, labelled as starting at byte 0
    trickle  announce the full length, then send 1 KB a second
    endless  answer 200 without a length and send bytes until the client goes (64 MB at most)
    chunked  answer 200 with the file in chunks of 1000 bytes (the first with an extension) and a trailer
    redirect answer 302 with the same path and "?moved" as its Location (with :1, served there)
    cookie   serve the file with two cookies kept for some years: "Set-Cookie: edge=PATH; Path=/; Expires=..."
             and "Set-Cookie: region=eu; Path=/; Expires=..."
Without a fault (and for cut), "Range: bytes=N-" and "bytes=A-B" are answered as a static server does: 206
with the rest from N or bytes A to B, or 416 when they are not inside the file; the log line then ends in
" range=N-" or " range=A-B". Several closed ranges ("bytes=A-B,C-D,...") are answered with a
multipart/byteranges 206, one part per range.
COUNT, when given, limits the fault to the first COUNT requests of that path; later requests are
served normally. @NUMBER limits it to that one request of the path (1 for the first). PATH is relative to the prefix ("update.cfg", "sprites/ui/x.bmp") or "*" for all.

The control file, when given, is read again on every request: one "PATH KIND[:COUNT]" per line,
"#" comments allowed; its rules replace those of the command line while it exists. Every request
is appended to the log file (or standard output) as "METHOD PATH STATUS BYTES-SENT", with " cookie=..." after it
when the request carried a Cookie header.
With --port 0 a free port is taken; --port-file receives the port once the server listens.
"""
import argparse
import http.server
import os
import socketserver
import sys
import threading
import time
import urllib.parse

HOLD_LIMIT = 120  # seconds a held, stalled or silent response waits at most
HUGE_SIZE = 20 * 1024 * 1024
KINDS = ("cut", "corrupt", "empty", "hold", "stall", "silent", "huge", "padded", "late", "norange", "onerange",
         "nomulti", "badrange", "trickle", "endless", "chunked", "redirect", "cookie")


class Rules:
    """Fault rules by path, with per-path request counts for the limited ones."""

    def __init__(self, command_line, control_file):
        self.command_line = self.parse(command_line)
        self.control_file = control_file
        self.counts = {}
        self.lock = threading.Lock()

    @staticmethod
    def parse(items):
        rules = {}
        for item in items:
            path, _, kind = item.partition("=") if "=" in item else item.partition(" ")
            kind = kind.strip()
            count = None
            if ":" in kind:
                kind, count_text = kind.split(":", 1)
                count = int(count_text)
            elif "@" in kind:
                kind, number_text = kind.split("@", 1)
                count = -int(number_text)  # a negative count names one request by its number
            if kind not in KINDS and not (kind.isdigit() and 400 <= int(kind) <= 599):
                raise ValueError(f"unknown fault kind: {kind!r}")
            rules[path.strip()] = (kind, count)
        return rules

    def current(self):
        if self.control_file and os.path.exists(self.control_file):
            with open(self.control_file, encoding="utf-8") as f:
                lines = [line.strip() for line in f]
            return self.parse([line for line in lines if line and not line.startswith("#")])
        return self.command_line

    def rule_for(self, path):
        rules = self.current()
        return rules.get(path) or rules.get("*")

    def fault_for(self, path):
        rule = self.rule_for(path)
        if not rule:
            return None
        kind, count = rule
        with self.lock:
            seen = self.counts.get(path, 0)
            self.counts[path] = seen + 1
        if count is not None and count < 0 and seen + 1 != -count:
            return None
        if count is not None and count >= 0 and seen >= count:
            return None
        return kind


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "FaultServer/1.0"
    set_cookies = ()  # the Set-Cookie values of the answer, for the cookie fault

    def log_message(self, format, *args):  # the request log below replaces the default one
        pass

    def record(self, status, sent):
        ranged, cookie = self.headers.get("Range"), self.headers.get("Cookie")
        self.record_text(f"{self.command} {self.path} {status} {sent}" + (f" range={ranged[6:]}" if ranged else "")
                         + (f" cookie={cookie}" if cookie else ""))

    def range_asked(self):
        """(N, None) for a "Range: bytes=N-" header, (A, B) for "bytes=A-B", or (None, None)."""
        first, _, last = self.headers.get("Range", "").removeprefix("bytes=").partition("-")
        if self.headers.get("Range", "").startswith("bytes=") and first.isdigit() and (last.isdigit() or not last):
            return int(first), int(last) if last else None
        return None, None

    def several_ranges(self, size):
        """[(A, B), ...] for a Range of two or more closed ranges inside a file of size bytes, or None."""
        pairs = [item.strip().partition("-") for item in self.headers.get("Range", "").removeprefix("bytes=").split(",")]
        if len(pairs) < 2 or not all(a.isdigit() and b.isdigit() and int(a) <= int(b) < size for a, _, b in pairs):
            return None
        return [(int(a), int(b)) for a, _, b in pairs]

    def send_body(self, status, body, length=None, close=False, padding=0, content_range=None):
        self.send_response(status)
        if content_range:
            self.send_header("Content-Range", content_range)
        for i in range(padding // 100):
            self.send_header(f"X-Padding-{i}", "p" * 80)
        for cookie in self.set_cookies:
            self.send_header("Set-Cookie", cookie)
        self.send_header("Content-Type", "application/octet-stream" if status < 400 else "text/html")
        self.send_header("Content-Length", str(len(body) if length is None else length))
        self.send_header("Cache-Control", "no-store")
        if close:
            self.send_header("Connection", "close")
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)
        self.wfile.flush()

    def do_HEAD(self):
        self.do_GET()

    def do_GET(self):
        prefix = self.server.prefix
        url_path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        if not url_path.startswith(prefix):
            return self.fail(404)
        relative = url_path[len(prefix):]
        local = os.path.realpath(os.path.join(self.server.root, relative))
        if not (local + os.sep).startswith(self.server.root + os.sep) or not os.path.isfile(local):
            return self.fail(404)
        with open(local, "rb") as f:
            data = f.read()
        fault = self.server.rules.fault_for(relative)
        kept = "; Path=/; Expires=Wed, 01 Jan 2031 00:00:00 GMT"
        self.set_cookies = (f"edge={relative}{kept}", f"region=eu{kept}") if fault == "cookie" else ()
        if fault == "cookie":
            fault = None
        if fault == "hold":
            self.hold(relative)
            fault = None
        if fault == "late":
            time.sleep(1.5)
            fault = None
        several = self.several_ranges(len(data)) if fault in (None, "onerange", "nomulti") else None
        if several and fault == "nomulti":
            self.send_body(200, data)
            self.record("200-nomulti", len(data))
            return
        if several and fault == "onerange":
            a, b = several[0]
            self.send_body(206, data[a:b + 1], content_range=f"bytes {a}-{b}/{len(data)}")
            self.record("206-onerange", b + 1 - a)
            return
        if several:
            body = b"".join(b"\r\n--B0UND\r\nContent-Type: application/octet-stream\r\n"
                            + f"Content-Range: bytes {a}-{b}/{len(data)}\r\n\r\n".encode() + data[a:b + 1]
                            for a, b in several) + b"\r\n--B0UND--\r\n"
            self.send_response(206)
            self.send_header("Content-Type", "multipart/byteranges; boundary=B0UND")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            self.record(206, len(body))
            return
        if fault in ("onerange", "nomulti"):
            fault = None  # anything but several ranges is served as it is without a fault
        start, last = self.range_asked()
        if fault in (None, "cut") and start is not None:
            if start >= len(data) or (last is not None and last < start):
                self.send_body(416, b"", content_range=f"bytes */{len(data)}")
                self.record(416, 0)
                return
            end = len(data) if last is None else min(last + 1, len(data))
            rest = data[start:end]
            if fault == "cut":
                rest = rest[: len(rest) // 2]
            self.send_body(206, rest, length=end - start, close=fault == "cut",
                           content_range=f"bytes {start}-{end - 1}/{len(data)}")
            self.record("206-cut" if fault else 206, len(rest))
            self.close_connection = fault == "cut"
            return
        if fault is None or fault == "norange":
            self.send_body(200, data)
            self.record(200, len(data))
        elif fault == "badrange":
            self.send_body(206, data, content_range=f"bytes 0-{len(data) - 1}/{len(data)}")
            self.record("206-badrange", len(data))
        elif fault == "trickle":
            self.send_response(200)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            sent = 0
            try:
                while sent < len(data):
                    self.wfile.write(data[sent:sent + 1024])
                    self.wfile.flush()
                    sent += 1024
                    time.sleep(1)
            except OSError:
                pass
            self.record("200-trickle", min(sent, len(data)))
            self.close_connection = True
        elif fault == "endless":
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            sent = 0
            try:
                while sent < 64 * 1024 * 1024:
                    self.wfile.write(b"x" * 65536)
                    sent += 65536
            except OSError:
                pass
            self.record("200-endless", sent)
            self.close_connection = True
        elif fault == "chunked":
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            for start in range(0, len(data), 1000):
                piece = data[start:start + 1000]
                extension = ";part=first" if start == 0 else ""
                self.wfile.write(f"{len(piece):x}{extension}\r\n".encode() + piece + b"\r\n")
            self.wfile.write(b"0\r\nX-Trailer: end\r\n\r\n")
            self.wfile.flush()
            self.record("200-chunked", len(data))
        elif fault == "redirect":
            self.send_response(302)
            self.send_header("Location", self.path.split("?")[0] + "?moved")
            self.send_header("Content-Length", "0")
            self.end_headers()
            self.record(302, 0)
        elif fault.isdigit():
            self.fail(int(fault))
        elif fault == "cut":
            half = data[: len(data) // 2]
            self.send_body(200, half, length=len(data), close=True)
            self.record("200-cut", len(half))
            self.close_connection = True
        elif fault == "corrupt":
            body = bytes(b ^ 0x5A for b in data) if data else b"x"
            self.send_body(200, body)
            self.record("200-corrupt", len(body))
        elif fault == "empty":
            self.send_body(200, b"")
            self.record("200-empty", 0)
        elif fault == "stall":
            self.send_body(200, data[:1], length=len(data))
            self.record("200-stall", 1)
            self.wait_for_close()
        elif fault == "silent":
            self.record("silent", 0)
            self.wait_for_close()
        elif fault == "huge":
            body = bytes(range(256)) * (HUGE_SIZE // 256)
            self.send_body(200, body)
            self.record("200-huge", len(body))
        elif fault == "padded":
            half = data[: len(data) // 2]
            self.send_body(200, half, length=len(data), close=True, padding=16384)
            self.record("200-padded", len(half))
            self.close_connection = True

    def wait_for_close(self):
        """Keeps the connection open and silent until the client closes it (or HOLD_LIMIT seconds pass)."""
        self.connection.settimeout(HOLD_LIMIT)
        try:
            while self.connection.recv(4096):
                pass
        except OSError:
            pass
        self.record_text(f"CLOSED {self.path}")
        self.close_connection = True

    def hold(self, relative):
        """Waits while the path's rule is still "hold"; gives up after HOLD_LIMIT seconds so a forgotten
        release cannot hang a test forever."""
        self.record_text(f"HOLD {self.path}")
        deadline = time.monotonic() + HOLD_LIMIT
        while time.monotonic() < deadline:
            rule = self.server.rules.rule_for(relative)
            if not rule or rule[0] != "hold":
                break
            time.sleep(0.05)
        self.record_text(f"RELEASE {self.path}")

    def record_text(self, line):
        with self.server.log_lock:
            if self.server.log_file:
                with open(self.server.log_file, "a", encoding="utf-8") as f:
                    f.write(line + "\n")
            else:
                sys.stdout.write(line + "\n")
                sys.stdout.flush()

    def fail(self, status):
        body = f"<html><body><h1>{status}</h1></body></html>\n".encode()
        self.send_body(status, body)
        self.record(status, len(body))


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", required=True, help="folder served under the prefix")
    parser.add_argument("--port", type=int, default=18460)
    parser.add_argument("--host", default="127.0.0.1", help="loopback address to listen on")
    parser.add_argument("--prefix", default="/Quorvane/")
    parser.add_argument("--fault", action="append", default=[], metavar="PATH=KIND[:COUNT|@NUMBER]")
    parser.add_argument("--control", help="rules file read again on every request")
    parser.add_argument("--log", help="request log file (default: standard output)")
    parser.add_argument("--port-file", help="file that receives the port once listening")
    args = parser.parse_args()

    server = Server((args.host, args.port), Handler)
    server.root = os.path.realpath(args.root)
    server.prefix = args.prefix
    server.rules = Rules(args.fault, args.control)
    server.log_file = args.log
    server.log_lock = threading.Lock()
    port = server.server_address[1]
    if args.port_file:
        with open(args.port_file + ".tmp", "w") as f:
            f.write(f"{port}\n")
        os.replace(args.port_file + ".tmp", args.port_file)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    main()
