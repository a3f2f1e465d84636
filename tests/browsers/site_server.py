#!/usr/bin/env python3
"""A small cacheable site on loopback for the real-browser cache test.

usage: site_server.py ROOT PORT LOG

Serves the files of ROOT with long-lived Cache-Control headers and appends one line per
request ("METHOD PATH USER-AGENT") to LOG. /favicon.ico is answered 404, not cacheable.
"""
import http.server
import mimetypes
import os
import sys
import urllib.parse

ROOT, PORT, LOG = sys.argv[1], int(sys.argv[2]), sys.argv[3]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def _log(self):
        with open(LOG, "a", encoding="utf-8") as log:
            log.write("%s %s %s\n" % (self.command, self.path, self.headers.get("User-Agent", "-")))

    def do_GET(self):
        self._log()
        name = urllib.parse.unquote(self.path.split("?", 1)[0]).lstrip("/") or "index.html"
        path = os.path.join(ROOT, name)
        if "/" in name or not os.path.isfile(path):
            body = b"not found"
            self.send_response(404)
            self.send_header("Cache-Control", "no-store")
        else:
            with open(path, "rb") as f:
                body = f.read()
            self.send_response(200)
            self.send_header("Cache-Control", "public, max-age=86400")
        self.send_header("Content-Type", mimetypes.guess_type(name)[0] or "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


if __name__ == "__main__":
    http.server.ThreadingHTTPServer(("127.0.0.1", PORT), Handler).serve_forever()
