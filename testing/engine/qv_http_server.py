#!/usr/bin/env python3
"""Test HTTP server for the install engine (standard library only, 127.0.0.1).

Serves files from memory or disk with HEAD, GET, 301/302 redirects, open and closed
byte ranges (206 with Content-Range, 416 past the end), and fault switches chosen by the
number of the request (counted per method) or by its Range: drop after N bytes, stall
for T seconds (or until the client hangs up), wrong Content-Range starts, forced gzip,
close-delimited or unfinished chunked bodies, another version of the file, redirects,
answer 500, refuse (close without an answer), ignore Range (answer 200), gzip when asked,
chunked. Every request is logged with method, path, Range and Accept-Encoding.

Used in-process by the test scripts (TestServer) or standalone:
    qv_http_server.py --serve /path/name=FILE [--redirect /a=/b] [--port-file F]
"""
import argparse
import gzip
import http.server
import os
import select
import socket
import socketserver
import sys
import threading
import time


class Fault:
    """One switch. method: "GET"/"HEAD"/"*"; nth: request number (1-based, counted per
    method) or None for every request from `start` on; range: applies only to requests
    whose Range header starts with this text ("" for requests without one); times: applies
    to the first so many requests it matches. action:
      drop        close after `after` bytes of the body
      stall       stop after `after` bytes for `seconds` (None: until the client hangs up,
                  noted in the request's log entry as "stall_ended_by")
      500         answer 500
      refuse      close without an answer
      norange     ignore Range (answer 200 with the whole file)
      badrange    answer 206 whose Content-Range (and body) start `after` bytes late
      gzip        gzip the body when the client accepts gzip; gzipforce: always
      chunked     chunked body; nolastchunk: without the last chunk, then close
      closeshort  no length and no chunks: `after` bytes, then close
      alt         serve the server's other version of the file (alt_files)
      redirect    302 to the path `target` (a redirect in the middle)
      pace        sleep `seconds` after every 256 KiB, so that a small transfer lasts
                  long enough for once-a-second progress"""

    def __init__(self, action, method="GET", nth=None, start=1, after=0, seconds=0.0, range=None, times=None,
                 target=None):
        self.action, self.method, self.nth, self.start = action, method, nth, start
        self.after, self.seconds, self.range, self.times, self.target = after, seconds, range, times, target
        self.used = 0

    def take(self, method, number, rng):
        """Whether the switch applies to this request (counting it when it does)."""
        if self.method not in ("*", method):
            return False
        if not (number == self.nth if self.nth is not None else number >= self.start):
            return False
        if self.range is not None and not (rng or "").startswith(self.range) or (self.range == "" and rng):
            return False
        if self.times is not None and self.used >= self.times:
            return False
        self.used += 1
        return True


class _MarkingWriter:
    def __init__(self, raw, handler):
        self._raw, self._handler = raw, handler

    def write(self, data):
        self._handler.mark()
        return self._raw.write(data)

    def flush(self):
        return self._raw.flush()

    def __getattr__(self, name):
        return getattr(self._raw, name)


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "qvtest/1"

    def log_message(self, fmt, *args):  # quiet; the server keeps its own log
        pass

    def do_HEAD(self):
        self._serve_logged(head=True)

    def do_GET(self):
        self._serve_logged(head=False)

    def setup(self):
        super().setup()
        self.entry = None
        self.wfile = _MarkingWriter(self.wfile, self)

    def _serve_logged(self, head):
        self.entry = None
        self._serve(head)

    def mark(self):
        """Notes the time before every write and hang-up: the last note comes before the
        client can have seen the end of the answer, so its pause before a next try counts
        from here."""
        if self.entry is not None:
            self.entry["end"] = time.time()

    def _hang_up(self):
        self.mark()
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def _wait_for_hangup(self, limit):
        """Holds a stalled answer until the client closes the connection ("client") or
        the limit passes ("server")."""
        deadline = time.time() + limit
        while time.time() < deadline:
            ready, _, _ = select.select([self.connection], [], [], 0.5)
            if ready:
                try:
                    if not self.connection.recv(65536):
                        return "client"
                except OSError:
                    return "client"
        return "server"

    def _serve(self, head):
        srv = self.server.owner
        method = "HEAD" if head else "GET"
        with srv.lock:
            srv.counts[method] = srv.counts.get(method, 0) + 1
            number = srv.counts[method]
            entry = {"time": time.time(), "method": method, "path": self.path,
                     "range": self.headers.get("Range"),
                     "accept_encoding": self.headers.get("Accept-Encoding"), "number": number}
            srv.log.append(entry)
            self.entry = entry
            if srv.log_file:
                with open(srv.log_file, "a") as f:
                    f.write("%s %s range=%s accept-encoding=%s\n" % (
                        method, self.path, entry["range"], entry["accept_encoding"]))
            faults = [f for f in srv.faults if f.take(method, number, entry["range"])]
        actions = {f.action: f for f in faults}

        if "refuse" in actions:
            self._hang_up()
            return
        path = self.path.split("?", 1)[0]
        if "redirect" in actions:
            self.send_response(302)
            self.send_header("Location", srv.url(actions["redirect"].target))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if path in srv.redirects:
            code, target = srv.redirects[path]
            self.send_response(code)
            self.send_header("Location", target)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if "500" in actions:
            body = b"server error"
            self.send_response(500)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if not head:
                self.wfile.write(body)
            return
        if path not in srv.files:
            body = b"not found"
            self.send_response(404)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if not head:
                self.wfile.write(body)
            return

        size, reader = srv.open_file(path, alt="alt" in actions)
        start, end = 0, size - 1
        status = 200
        rng = self.headers.get("Range")
        if rng and "norange" not in actions and rng.startswith("bytes="):
            spec = rng[6:].split(",")[0].strip()
            first, _, last = spec.partition("-")
            try:
                if first == "":
                    start, end = max(0, size - int(last)), size - 1
                else:
                    start = int(first)
                    end = int(last) if last else size - 1
            except ValueError:
                start, end = 0, size - 1
            if start >= size or start > end:
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % size)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            end = min(end, size - 1)
            status = 206
            if "badrange" in actions:
                start = min(start + (actions["badrange"].after or 17), end)

        wants_gzip = ("gzip" in actions and "gzip" in (self.headers.get("Accept-Encoding") or "")
                      or "gzipforce" in actions)
        chunked = ("chunked" in actions or "nolastchunk" in actions) and not head
        close_short = actions.get("closeshort") if not head else None
        self.send_response(status)
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Content-Type", "application/octet-stream")
        if wants_gzip:
            payload = gzip.compress(reader(start, end - start + 1), compresslevel=1)
            self.send_header("Content-Encoding", "gzip")
            self.send_header("Content-Length", str(len(payload)))
            self.end_headers()
            if not head:
                self.wfile.write(payload)
            return
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end, size))
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        elif close_short is not None:
            self.send_header("Connection", "close")
        else:
            self.send_header("Content-Length", str(end - start + 1))
        self.end_headers()
        if head:
            return
        if close_short is not None:
            self.wfile.write(reader(start, min(close_short.after, end - start + 1)))
            self.wfile.flush()
            self._hang_up()
            return

        drop = actions.get("drop")
        stall = actions.get("stall")
        pace = actions.get("pace")
        sent, pos, total = 0, start, end - start + 1
        stalled = False
        while sent < total:
            n = min(256 * 1024, total - sent)
            if drop is not None and sent + n > drop.after:
                n = drop.after - sent
            if stall is not None and not stalled and sent + n > stall.after:
                n = stall.after - sent
            if n > 0:
                data = reader(pos, n)
                try:
                    if chunked:
                        self.wfile.write(b"%x\r\n" % len(data) + data + b"\r\n")
                    else:
                        self.wfile.write(data)
                except OSError:
                    return
                sent += n
                pos += n
                if pace is not None:
                    self.wfile.flush()
                    time.sleep(pace.seconds)
            if drop is not None and sent >= drop.after:
                self.wfile.flush()
                self._hang_up()
                return
            if stall is not None and not stalled and sent >= stall.after:
                stalled = True
                self.wfile.flush()
                if stall.seconds is None:
                    entry["stall_ended_by"] = self._wait_for_hangup(300)
                    if entry["stall_ended_by"] == "client":
                        return
                else:
                    time.sleep(stall.seconds)
        if chunked and "nolastchunk" in actions:
            self.wfile.flush()
            self._hang_up()
        elif chunked:
            self.wfile.write(b"0\r\n\r\n")


class _Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


class TestServer:
    def __init__(self, log_file=None):
        self.files = {}        # path -> bytes or a file name on disk
        self.alt_files = {}    # path -> the other version of the file (same forms)
        self.redirects = {}    # path -> (code, location)
        self.faults = []
        self.log = []
        self.counts = {}
        self.lock = threading.Lock()
        self.log_file = log_file
        self._httpd = None
        self._thread = None
        self.port = None

    def open_file(self, path, alt=False):
        src = self.alt_files[path] if alt else self.files[path]
        if isinstance(src, (bytes, bytearray)):
            return len(src), lambda off, n: bytes(src[off:off + n])
        size = os.path.getsize(src)

        def read(off, n):
            with open(src, "rb") as f:
                f.seek(off)
                return f.read(n)
        return size, read

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def requests(self, method=None):
        with self.lock:
            return [e for e in self.log if method is None or e["method"] == method]

    def start(self):
        self._httpd = _Server(("127.0.0.1", 0), _Handler)
        self._httpd.owner = self
        self.port = self._httpd.server_address[1]
        self._thread = threading.Thread(target=self._httpd.serve_forever, daemon=True)
        self._thread.start()
        return self.port

    def stop(self):
        if self._httpd:
            self._httpd.shutdown()
            self._httpd.server_close()
            self._httpd = None


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--serve", action="append", default=[], help="/url/path=FILE")
    ap.add_argument("--redirect", action="append", default=[], help="/from=/to (302)")
    ap.add_argument("--port-file", help="write the chosen port here")
    ap.add_argument("--log", help="append one line per request here")
    args = ap.parse_args()
    srv = TestServer(log_file=args.log)
    for item in args.serve:
        path, _, file = item.partition("=")
        srv.files[path] = file
    for item in args.redirect:
        src, _, dst = item.partition("=")
        srv.redirects[src] = (302, dst)
    port = srv.start()
    if args.port_file:
        with open(args.port_file + ".tmp", "w") as f:
            f.write(str(port))
        os.replace(args.port_file + ".tmp", args.port_file)
    print("PORT %d" % port, flush=True)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass
    srv.stop()


if __name__ == "__main__":
    sys.exit(main())
