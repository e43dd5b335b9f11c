#!/usr/bin/env python3
"""Download server for tests and the demo, on 127.0.0.1 only.

Serves the files below --root with a Content-Length. With --tls DIR (the
certificates tools/testcerts.sh makes) it serves https with DIR/server.pem,
and opens four more listeners on the same files: plain http, https with a
certificate for another host name (other-name.pem) and https with one from an
authority nobody trusts (unknown-ca.pem). The port file then holds the https
port on its first line and "NAME PORT" lines for the others (http, other-name,
unknown-ca, and "silent": it accepts connections and never says a word, so a
client waits there in its TLS handshake or for an answer).

Path prefixes change how an answer misbehaves, so tests can meet the servers
the launcher must survive:

  /~status=404/...      answer with that status (and a short body)
  /~redirect=N/...      N redirects (302) before the real answer
  /~chunked/...         chunked transfer, no Content-Length
  /~nolength/...        no Content-Length, body until the connection closes
  /~short=N/...         announce the full length, send N bytes fewer, close
  /~long=N/...          announce the length, send N extra bytes
  /~rate=BYTES/...      send at most BYTES per second
  /~trickle=MS/...      send the body one byte every MS milliseconds, each
                        in time for any receive timeout longer than MS
  /~endless/...         announce the length, then send zeros after the body
                        until the client closes (1 GiB at most)
  /~vanish-after=N/...  serve N times, then 404 (a server that changes)
  /~delay=MS/...        wait that long before answering
  /~hang/...            read the request and never answer
  /~drop=N/...          every answer sends at most N bytes of its body, then
                        closes the connection
  /~cut=A,B,.../...     the first GET of the file is cut after byte A of the
                        file, the second after byte B, and so on; later ones
                        are whole (a download lost now and then)
  /~norange/...         ignore Range requests (answer 200 with the whole file);
                        with /~short=N/ every answer starts the file over and
                        stops short of its end
  /~etag-changes/...    a new ETag (and Last-Modified) on every answer, as if
                        the file had been replaced
  /~garble/...          the file's length, other bytes (every byte inverted):
                        a mirror with a stale or damaged copy
  /~stall-after=N/...   send N bytes of the body, then nothing more until the
                        client gives up (a host that stalls mid-file)

Files are served with an ETag and a Last-Modified; "Range: bytes=N-" is
answered with 206 when its If-Range (if any) names the current ETag or date.
  /~nohead/...          refuse HEAD requests (405), as some servers do
  /~to-http/...         redirect (302) to the same path on the plain http
                        listener (with --tls)
  /~to-https/...        redirect (302) to the same path on the https listener
  /~signed/...          redirect (302) to the same path with a CDN's signed
                        query ("?Expires=...&Signature=..."), which is ignored

Prefixes combine: /~redirect=2/~short=10/file.zip. Every request is appended
to <root>/.requests as "METHOD path status".
"""
import argparse
import os
import socket
import ssl
import threading
import time
import urllib.parse
from email.utils import formatdate
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

counters = {}
counters_lock = threading.Lock()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "qztest/1"

    def log_message(self, fmt, *args):  # quiet; the request log is enough
        pass

    def setup(self):
        # The handshake runs here, in the connection's own thread, so a client
        # that refuses the certificate cannot hold up the listener.
        if self.server.tls is not None:
            self.request = self.server.tls.wrap_socket(self.request, server_side=True)
        super().setup()

    def note(self, status):
        with open(os.path.join(self.server.root, ".requests"), "a") as log:
            log.write(f"{self.command} {self.path} {status}\n")

    def simple(self, status, body=b"", headers=()):
        if status in (204, 304) or status < 200:
            body = b""  # these answers have no body; sending one would desync keep-alive
        # Logged before the answer leaves, so a client that has its answer
        # always finds its request in the log.
        self.note(status)
        self.send_response(status)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def do_HEAD(self):
        self.do_GET()

    def do_GET(self):
        raw = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        parts = [p for p in raw.split("/") if p != ""]
        opts = {}
        rest = []
        for i, p in enumerate(parts):
            if p.startswith("~") and not rest:
                key, _, val = p[1:].partition("=")
                if key == "redirect":
                    n = int(val or 1)
                    if n > 0:
                        prefix = "/".join(parts[:i])
                        tail = "/".join(parts[i + 1:])
                        nxt = (f"/{prefix}" if prefix else "") + (f"/~redirect={n - 1}/" if n > 1 else "/") + tail
                        return self.simple(302, b"moved", [("Location", nxt)])
                    continue
                if key == "signed":
                    tail = "/".join(parts[i + 1:])
                    return self.simple(302, b"moved", [("Location", f"/{tail}?Expires=4102444800&Signature=c2ln")])
                if key in ("to-http", "to-https"):
                    tail = "/".join(parts[i + 1:])
                    if key == "to-http":
                        target = f"http://127.0.0.1:{self.server.plain_port or self.server.server_address[1]}"
                    else:
                        target = f"https://127.0.0.1:{self.server.tls_port or self.server.server_address[1]}"
                    return self.simple(302, b"moved", [("Location", f"{target}/{tail}")])
                opts[key] = val
            else:
                rest.append(p)
        if "hang" in opts:
            self.note("hang")
            while True:
                time.sleep(3600)
        if "nohead" in opts and self.command == "HEAD":
            return self.simple(405, b"")
        if "delay" in opts:
            time.sleep(int(opts["delay"]) / 1000.0)
        if "status" in opts:
            return self.simple(int(opts["status"]), b"status page")
        if any(p in ("..", ".") for p in rest):
            return self.simple(403, b"forbidden")
        path = os.path.join(self.server.root, *rest)
        if "vanish-after" in opts:
            with counters_lock:
                n = counters.get(path, 0)
                counters[path] = n + 1
            if n >= int(opts["vanish-after"]):
                return self.simple(404, b"gone")
        if not os.path.isfile(path):
            return self.simple(404, b"not found")
        stat = os.stat(path)
        stamp = stat.st_mtime_ns
        if "etag-changes" in opts:
            with counters_lock:
                stamp += counters.get(("etag", path), 0) * 1_000_000_000
                counters[("etag", path)] = counters.get(("etag", path), 0) + 1
        etag = f'"{stat.st_size:x}-{stamp:x}"'
        modified = formatdate(stamp / 1e9, usegmt=True)
        cut_at = None
        if "cut" in opts and self.command == "GET":
            with counters_lock:
                # Counted per address, so each list of cuts starts afresh.
                n = counters.get(("cut", raw), 0)
                counters[("cut", raw)] = n + 1
            points = [int(p) for p in opts["cut"].split(",") if p]
            if n < len(points):
                cut_at = points[n]
        with open(path, "rb") as f:
            data = f.read() if stat.st_size < (64 << 20) else None
            size = stat.st_size
            start = 0
            wanted = self.headers.get("Range", "")
            if_range = self.headers.get("If-Range")
            if (wanted.startswith("bytes=") and wanted.endswith("-") and "norange" not in opts
                    and "chunked" not in opts and "nolength" not in opts
                    and (if_range is None or if_range in (etag, modified))):
                try:
                    start = int(wanted[6:-1])
                except ValueError:
                    start = 0
                if start >= size:
                    return self.simple(416, b"", [("Content-Range", f"bytes */{size}")])
            self.note(206 if start else 200)
            self.send_response(206 if start else 200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("ETag", etag)
            self.send_header("Last-Modified", modified)
            self.send_header("Accept-Ranges", "none" if "norange" in opts else "bytes")
            if start:
                self.send_header("Content-Range", f"bytes {start}-{size - 1}/{size}")
            if "chunked" in opts:
                self.send_header("Transfer-Encoding", "chunked")
            elif "nolength" in opts:
                self.send_header("Connection", "close")
            else:
                self.send_header("Content-Length", str(size - start))
            if ("short" in opts or "drop" in opts or cut_at is not None or "endless" in opts
                    or "stall-after" in opts):
                self.send_header("Connection", "close")
            self.end_headers()
            if self.command == "HEAD":
                return
            if "chunked" in opts:
                body = data if data is not None else f.read()
                step = 4096
                for i in range(0, len(body), step):
                    piece = body[i:i + step]
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
                self.wfile.write(b"0\r\n\r\n")
                return
            send = size
            if "short" in opts:
                send = max(0, size - int(opts["short"]))
            if cut_at is not None:
                send = min(send, max(start, cut_at))
            if "drop" in opts:
                send = min(send, start + int(opts["drop"]))
            rate = int(opts["rate"]) if "rate" in opts else 0
            trickle = int(opts["trickle"]) if "trickle" in opts else 0
            try:
                if "garble" in opts or "stall-after" in opts:
                    body = (data if data is not None else f.read())[start:send]
                    if "garble" in opts:
                        body = body.translate(bytes(range(255, -1, -1)))
                    if "stall-after" in opts:
                        body = body[:max(0, int(opts["stall-after"]) - start)]
                    self.wfile.write(body)
                    self.wfile.flush()
                    if "stall-after" in opts:
                        # Until the client closes: a read then fails at once.
                        while self.connection.recv(1):
                            pass
                elif trickle:
                    body = (data if data is not None else f.read())[start:send]
                    for i in range(len(body)):
                        self.wfile.write(body[i:i + 1])
                        self.wfile.flush()
                        time.sleep(trickle / 1000.0)
                elif data is None and not rate:
                    self.wfile.flush()
                    if send > start:
                        self.connection.sendfile(f, start, send - start)
                else:
                    body = data if data is not None else f.read()
                    body = body[start:send]
                    if rate:
                        step = max(1, rate // 20)
                        for i in range(0, len(body), step):
                            self.wfile.write(body[i:i + step])
                            self.wfile.flush()
                            time.sleep(0.05)
                    else:
                        self.wfile.write(body)
                if "long" in opts:
                    self.wfile.write(b"\0" * int(opts["long"]))
                if "endless" in opts:
                    for _ in range(1 << 14):
                        self.wfile.write(b"\0" * 65536)
                        self.wfile.flush()
                self.wfile.flush()
            except (BrokenPipeError, ConnectionResetError):
                return
            if "short" in opts or "nolength" in opts or "long" in opts or "endless" in opts or send < size:
                self.close_connection = True
                try:
                    # A body that ends with the connection ends properly over
                    # TLS too; a cut one ends without the closing alert.
                    if "nolength" in opts and isinstance(self.connection, ssl.SSLSocket):
                        self.close_tls()
                    self.connection.shutdown(socket.SHUT_RDWR)
                except (OSError, ValueError):
                    pass

    def close_tls(self):
        # Sends the closing alert without waiting for the client's, which the
        # client sends only after it has seen the end of the body.
        self.connection.setblocking(False)
        try:
            self.connection.unwrap()
        except (ssl.SSLError, OSError, ValueError):
            pass


class Server(ThreadingHTTPServer):
    daemon_threads = True
    tls = None
    plain_port = None
    tls_port = None

    def handle_error(self, request, client_address):
        pass  # refused handshakes and dropped clients are what tests provoke


def silent_listener():
    """Accepts connections and keeps them open without a word."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("127.0.0.1", 0))
    sock.listen(16)
    held = []

    def serve():
        while True:
            conn, _ = sock.accept()
            held.append(conn)

    threading.Thread(target=serve, daemon=True).start()
    return sock.getsockname()[1]


def tls_context(folder, name):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(os.path.join(folder, name + ".pem"), os.path.join(folder, name + ".key"))
    return ctx


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--port-file")
    ap.add_argument("--tls", metavar="DIR", help="serve https with the certificates in DIR")
    args = ap.parse_args()
    root = os.path.abspath(args.root)
    os.makedirs(root, exist_ok=True)

    def listener(port, cert):
        server = Server(("127.0.0.1", port), Handler)
        server.root = root
        server.tls = tls_context(args.tls, cert) if cert else None
        return server

    main_server = listener(args.port, "server" if args.tls else None)
    extra = {}
    if args.tls:
        extra = {"http": listener(0, None), "other-name": listener(0, "other-name"),
                 "unknown-ca": listener(0, "unknown-ca")}
        for server in [main_server] + list(extra.values()):
            server.plain_port = extra["http"].server_address[1]
            server.tls_port = main_server.server_address[1]
        for server in extra.values():
            threading.Thread(target=server.serve_forever, daemon=True).start()
    lines = [str(main_server.server_address[1])]
    lines += [f"{name} {server.server_address[1]}" for name, server in extra.items()]
    if args.tls:
        lines.append(f"silent {silent_listener()}")
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("\n".join(lines))
        os.replace(tmp, args.port_file)
    else:
        print("\n".join(lines), flush=True)
    main_server.serve_forever()


if __name__ == "__main__":
    main()
