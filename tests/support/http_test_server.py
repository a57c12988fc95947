#!/usr/bin/env python3
"""Loopback HTTP(S) server for the transfer and report tests.

Prints its port on the first line of stdout, then serves until killed. Every request is recorded
in --record-dir as NNNN.line (request line), NNNN.headers (header block), NNNN.body (raw body)
and, for multipart bodies, NNNN.parts (one line per part as parsed by Python's email parser:
name TAB filename TAB content type TAB payload length) with each payload in NNNN.partK.

Routes (any method):
  /bytes/N            200, N pattern bytes (byte i = i % 251), with Content-Length
  /file/NAME          200, the file NAME of --root, sent with sendfile
  /nolength/N         200, N pattern bytes, no Content-Length, connection closed at the end
  /chunked/N          200, N pattern bytes in chunks of 1000
  /short/N            200, Content-Length N but only N/2 bytes, then the connection closes
  /utf8/N?prefix=P    200, P then "a\u20ac" repeated, N bytes in all
  /hex/HEX            200, the bytes given in hexadecimal
  /status/CODE        CODE, body "status"
  /hang               never answers (the connection stays open for 120 s)
  /echo               200, the request body
  /redirect           302 to /bytes/10
  /goto?URL           302 to URL (percent-decoded)
"""
import argparse
import email.parser
import email.policy
import os
import socket
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ARGS = None
COUNTER_LOCK = threading.Lock()
COUNTER = [0]


def pattern(n):
    block = bytes(i % 251 for i in range(251))
    return (block * (n // 251 + 1))[:n]


def record(handler, body):
    with COUNTER_LOCK:
        COUNTER[0] += 1
        n = COUNTER[0]
    base = os.path.join(ARGS.record_dir, "%04d" % n)
    with open(base + ".headers", "wb") as f:
        for name, value in handler.headers.raw_items():
            f.write(("%s: %s\r\n" % (name, value)).encode("utf-8", "surrogateescape"))
    with open(base + ".body", "wb") as f:
        f.write(body)
    ctype = handler.headers.get("Content-Type", "")
    if ctype.startswith("multipart/"):
        msg = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
            b"Content-Type: " + ctype.encode("latin-1") + b"\r\n\r\n" + body)
        lines = []
        for k, part in enumerate(msg.iter_parts()):
            payload = part.get_payload(decode=True) or b""
            with open("%s.part%d" % (base, k), "wb") as f:
                f.write(payload)
            lines.append("%s\t%s\t%s\t%d" % (part.get_param("name", header="content-disposition"),
                                             part.get_filename(), part.get_content_type(),
                                             len(payload)))
        with open(base + ".parts", "w") as f:
            f.write("\n".join(lines) + ("\n" if lines else ""))
            f.write("defects=%d\n" % len(msg.defects))
    # Written last: a test that sees the line file sees the whole record.
    with open(base + ".line.tmp", "wb") as f:
        f.write(handler.raw_requestline)
    os.rename(base + ".line.tmp", base + ".line")


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    disable_nagle_algorithm = True

    def log_message(self, *args):
        pass

    def read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            out = b""
            while True:
                size = int(self.rfile.readline().strip(), 16)
                if size == 0:
                    self.rfile.readline()
                    return out
                out += self.rfile.read(size)
                self.rfile.readline()
        return self.rfile.read(int(self.headers.get("Content-Length", "0")))

    def send(self, code, body, length=True, close=False):
        self.send_response(code)
        if length:
            self.send_header("Content-Length", str(len(body)))
        if close:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        self.wfile.write(body)

    def handle_any(self):
        body = self.read_body()
        record(self, body)
        path, _, query = self.path.partition("?")
        parts = path.strip("/").split("/")
        route, arg = parts[0], "/".join(parts[1:])
        if route == "bytes":
            self.send(200, pattern(int(arg)))
        elif route == "file":
            name = os.path.join(ARGS.root, os.path.basename(arg))
            size = os.path.getsize(name)
            self.send_response(200)
            self.send_header("Content-Length", str(size))
            self.end_headers()
            self.wfile.flush()
            with open(name, "rb") as f:
                self.connection.sendfile(f)
        elif route == "nolength":
            self.send(200, pattern(int(arg)), length=False, close=True)
        elif route == "chunked":
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            data = pattern(int(arg))
            for i in range(0, len(data), 1000):
                piece = data[i:i + 1000]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.write(b"0\r\n\r\n")
        elif route == "short":
            n = int(arg)
            self.send_response(200)
            self.send_header("Content-Length", str(n))
            self.end_headers()
            self.wfile.write(pattern(n // 2))
            self.wfile.flush()
            self.close_connection = True
        elif route == "utf8":
            prefix = b""
            if query.startswith("prefix="):
                prefix = query[len("prefix="):].encode()
            text = (prefix + "a\u20ac".encode() * (int(arg) // 4 + 1))[:int(arg)]
            self.send(200, text)
        elif route == "hex":
            self.send(200, bytes.fromhex(arg))
        elif route == "status":
            self.send(int(arg), b"status")
        elif route == "hang":
            time.sleep(120)
            self.close_connection = True
        elif route == "echo":
            self.send(200, body)
        elif route == "redirect":
            self.send_response(302)
            self.send_header("Location", "/bytes/10")
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif route == "goto":
            self.send_response(302)
            self.send_header("Location", urllib.parse.unquote(query))
            self.send_header("Content-Length", "0")
            self.end_headers()
        else:
            self.send(404, b"unknown route")

    do_GET = handle_any
    do_POST = handle_any


class Server(ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 128


def main():
    global ARGS
    p = argparse.ArgumentParser()
    p.add_argument("--record-dir", required=True)
    p.add_argument("--root", default=".")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--port", type=int, default=0)
    ARGS = p.parse_args()
    server = Server(("127.0.0.1", ARGS.port), Handler)
    if ARGS.cert:
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(ARGS.cert, ARGS.key)
        server.socket = ctx.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
