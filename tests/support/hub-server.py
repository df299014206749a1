#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The model hub's interface on the loopback address, for the download tests.

Usage: hub-server.py ROOT. Serves ROOT/<owner>/<name>/... as the hub does: the file list with
sizes and checksums at /api/models/<owner>/<name>/tree/main, each file at
/<owner>/<name>/resolve/main/<path> as a redirect to /cdn/..., which honours byte ranges.
Prints the port it listens on, then serves until killed. Each file asked for is logged with
the range asked, a line "<path> <range or whole>", in ROOT/requests.log.

ROOT/<owner>/<name>.fault names what goes wrong with the repository's largest file (words
separated by spaces, several at once):
  drop     the first transfer breaks off after 40 % of the file
  norange  byte ranges are ignored: the whole file comes with 200
  endless  after the file, bytes of nothing follow until the client hangs up
  size N   the file list gives N as its size
  corrupt  one byte in the middle is flipped (the list keeps the true checksum)
  stall    the transfer stops after 10 % and never goes on
  missing  the file list names it but fetching it answers 404
"""
import hashlib
import http.server
import json
import os
import pathlib
import sys
import threading
import time

ROOT = pathlib.Path(sys.argv[1]).resolve()
LARGE = 4096  # files above this are stored as large files, with a SHA-256 object id
dropped = set()
lock = threading.Lock()


def files_of(repo):
    base = ROOT / repo
    found = []
    for directory, _, names in os.walk(base, followlinks=True):
        for name in names:
            found.append(pathlib.Path(directory, name).relative_to(base).as_posix())
    return sorted(found)


def listing(repo):
    entries = []
    what = fault(repo)
    for relative in files_of(repo):
        data = (ROOT / repo / relative).read_bytes()
        blob = hashlib.sha1(b"blob %d\0" % len(data) + data).hexdigest()
        size = len(data)
        if "size" in what and relative == largest(repo):
            size = int(what[what.index("size") + 1])
        entry = {"type": "file", "path": relative, "size": size, "oid": blob}
        if len(data) > LARGE:
            entry["lfs"] = {"oid": hashlib.sha256(data).hexdigest(), "size": size,
                            "pointerSize": 134}
        entries.append(entry)
    return entries


def largest(repo):
    return max(files_of(repo), key=lambda r: (ROOT / repo / r).stat().st_size)


def fault(repo):
    marker = ROOT / (repo + ".fault")
    return marker.read_text().split() if marker.exists() else []


class Hub(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, body=b"", kind="application/json", headers=()):
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = self.path.split("?")[0]
        parts = path.strip("/").split("/")
        if parts[:2] == ["api", "models"] and parts[4:6] == ["tree", "main"]:
            repo = "/".join(parts[2:4])
            if not (ROOT / repo).is_dir():
                return self.answer(404, b'{"error":"Repository not found"}')
            return self.answer(200, json.dumps(listing(repo)).encode())
        if parts[2:4] == ["resolve", "main"]:
            repo, relative = "/".join(parts[:2]), "/".join(parts[4:])
            if not (ROOT / repo / relative).is_file():
                return self.answer(404, b"Entry not found", "text/plain")
            return self.answer(302, headers=[("Location", "/cdn/" + repo + "/" + relative)])
        if parts[0] == "cdn":
            return self.send_file("/".join(parts[1:3]), "/".join(parts[3:]))
        self.answer(404, b"", "text/plain")

    def send_file(self, repo, relative):
        file = ROOT / repo / relative
        if not file.is_file():
            return self.answer(404, b"Entry not found", "text/plain")
        data = bytearray(file.read_bytes())
        what = fault(repo) if relative == largest(repo) else []
        if "missing" in what:
            return self.answer(404, b"Entry not found", "text/plain")
        if "corrupt" in what:
            data[len(data) // 2] ^= 0x40
        start = 0
        asked = self.headers.get("Range", "")
        with lock, open(ROOT / "requests.log", "a") as log:
            log.write("%s %s\n" % (relative, asked or "whole"))
        if asked.startswith("bytes=") and "norange" not in what:
            start = int(asked[6:].split("-")[0])
            if start >= len(data):
                return self.answer(416, b"", "text/plain",
                                   [("Content-Range", "bytes */%d" % len(data))])
        body = bytes(data[start:])
        self.send_response(206 if start else 200)
        self.send_header("Content-Type", "application/octet-stream")
        if "endless" in what:
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(len(body)))
        if start:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, len(data) - 1, len(data)))
        self.end_headers()
        with lock:
            drop = "drop" in what and relative not in dropped
            dropped.add(relative)
        if drop:
            self.wfile.write(body[: len(data) * 4 // 10])
            self.wfile.flush()
            self.close_connection = True
            return
        if "stall" in what:
            self.wfile.write(body[: len(data) // 10])
            self.wfile.flush()
            time.sleep(3600)
        self.wfile.write(body)
        while "endless" in what:
            try:
                self.wfile.write(bytes(65536))
            except OSError:
                return


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Hub)
server.daemon_threads = True
print(server.server_address[1], flush=True)
server.serve_forever()
