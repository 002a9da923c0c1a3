#!/usr/bin/env python3
"""An HTTP server for the model download tests, on loopback, serving the files of one folder.

The first part of a request's path chooses how the file named by the rest is served:
  ok        whole, with its length
  missing   404
  truncate  its length announced, half of it sent, then the connection closed
  reset     half of it sent, then the connection reset
  slow      in small pieces with short pauses between them
  stall     half of it sent, then nothing more while the client stays
  hang      nothing at all, not even the status line, while the client stays
  gate      half of it sent, then the rest once a file named after it with ".release" added
            appears beside it
  encoded   whole, but labelled with a gzip content encoding it does not have
  redirect  a redirect to the same name under ok (whether or not there is such a file)
  to-http   the same on the plain HTTP port

Usage: model_server.py FOLDER [CERTIFICATE KEY]. Prints "http PORT", and "https PORT" when given
a certificate, then serves until its standard input ends. Every request's path is appended to
FOLDER/requests.log before it is answered.
"""
import http.server
import os
import select
import socket
import ssl
import struct
import sys
import threading
import time

folder = sys.argv[1]
log_lock = threading.Lock()
ports = {}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        with log_lock, open(os.path.join(folder, "requests.log"), "a") as log:
            log.write(self.path + "\n")
        parts = self.path.lstrip("/").split("/", 1)
        if len(parts) != 2 or "/" in parts[1] or parts[1].startswith("."):
            return self.send_error(404)
        fault, name = parts
        if fault in ("redirect", "to-http"):
            base = "" if fault == "redirect" else "http://127.0.0.1:%d" % ports["http"]
            self.send_response(302)
            self.send_header("Location", "%s/ok/%s" % (base, name))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        path = os.path.join(folder, name)
        if fault == "missing" or not os.path.isfile(path):
            return self.send_error(404)
        if fault == "hang":
            return self.hold()
        with open(path, "rb") as f:
            data = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(data)))
        if fault == "encoded":
            self.send_header("Content-Encoding", "gzip")
        self.end_headers()
        half = data[: len(data) // 2]
        if fault in ("ok", "encoded"):
            self.wfile.write(data)
        elif fault == "truncate":
            self.wfile.write(half)
            self.close_connection = True
        elif fault == "reset":
            self.wfile.write(half)
            self.wfile.flush()
            # A zero linger time makes close send a reset instead of the normal end.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
            self.close_connection = True
        elif fault == "slow":
            for start in range(0, len(data), 8192):
                self.wfile.write(data[start : start + 8192])
                self.wfile.flush()
                time.sleep(0.02)
        elif fault == "stall":
            self.wfile.write(half)
            self.wfile.flush()
            self.hold()
        elif fault == "gate":
            self.wfile.write(half)
            self.wfile.flush()
            deadline = time.monotonic() + 600
            while not os.path.exists(path + ".release") and time.monotonic() < deadline:
                time.sleep(0.02)
            self.wfile.write(data[len(half) :])
        else:
            self.close_connection = True

    # Keeps the connection open, sending nothing, until the client closes it (or ten minutes).
    def hold(self):
        self.close_connection = True
        deadline = time.monotonic() + 600
        while time.monotonic() < deadline:
            readable, _, _ = select.select([self.connection], [], [], 0.1)
            if readable:
                try:
                    if not self.connection.recv(1):
                        return
                except (OSError, ValueError):
                    return


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # a client that hangs up, or refuses the certificate, is not worth a trace


def serve(server):
    threading.Thread(target=server.serve_forever, daemon=True).start()


plain = Server(("127.0.0.1", 0), Handler)
ports["http"] = plain.server_address[1]
serve(plain)
print("http %d" % ports["http"])
if len(sys.argv) == 4:
    secure = Server(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[2], sys.argv[3])
    secure.socket = context.wrap_socket(secure.socket, server_side=True)
    ports["https"] = secure.server_address[1]
    serve(secure)
    print("https %d" % ports["https"])
sys.stdout.flush()
sys.stdin.read()
