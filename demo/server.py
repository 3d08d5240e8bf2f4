#!/usr/bin/env python3
"""Stand-in for the hosted objectives-and-tasks service that Norva shows.

Standard library only. See demo/README.md for the flags and endpoints.
"""

import argparse
import json
import os
import re
import shlex
import signal
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qsl, urlsplit

HOST = "127.0.0.1"
DEFAULT_PORT = 8765
PAGES_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pages")

PAGE_ROUTES = {
    "/": "index.html",
    "/login": "login.html",
    "/page2": "page2.html",
    "/updates_new": "updates_new.html",
}
STATIC_TYPES = {
    ".html": "text/html; charset=utf-8",
    ".js": "text/javascript; charset=utf-8",
    ".css": "text/css; charset=utf-8",
}

ANNOUNCE_MODES = ("uptodate", "optional", "mandatory", "none", "broken")
INSTALLER_MODES = ("direct", "redirect", "nolength")
CURRENT_VERSION = "1.7.5"
NEWER_VERSION = "1.7.6"
DEFAULT_MARKER = "norva-installer-ran"

FORCE_NOTICE = {
    "status": 1,
    "stayTime": 10,
    "busicTypes": [2, 6],
    "noticeInfo": [
        {"targetType": 0, "busicType": 2, "key": ["*"]},
        {"targetType": 1, "busicType": 6, "key": ["remind"]},
        {"targetType": 2, "busicType": 6, "key": ["invite"]},
    ],
}

INSTALLER_RE = re.compile(
    r"^/downloads/(?:(redirect|nolength)/)?norva-setup-([0-9A-Za-z][0-9A-Za-z._+-]*)\.run$")
STATIC_RE = re.compile(r"^/static/([A-Za-z0-9_-]+\.(?:js|css))$")

MIB = 1024 * 1024
MAX_BIG_MB = 4096
ZERO_CHUNK = bytes(64 * 1024)


def _build_pdf():
    # Tiny one-page PDF with a correct xref table, so viewers accept it.
    text = b"BT /F1 18 Tf 72 720 Td (Norva demo report) Tj ET"
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
        b"/Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>",
        b"<< /Length %d >>\nstream\n%s\nendstream" % (len(text), text),
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    ]
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for number, body in enumerate(objects, start=1):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (number, body)
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for offset in offsets:
        out += b"%010d 00000 n \n" % offset
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (
        len(objects) + 1, xref)
    return bytes(out)


# An empty zip archive (end-of-central-directory record only): a few valid bytes.
XLSX_BYTES = b"PK\x05\x06" + bytes(18)

FILES = {
    "/files/report.pdf": (_build_pdf(), "application/pdf", "report.pdf"),
    "/files/table.xlsx": (
        XLSX_BYTES,
        "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
        "table.xlsx",
    ),
}


def default_config():
    return {
        "announce": "uptodate",
        "latest": "",
        "forcenotice": "on",
        "staytime": 3,
        "interval": 86400,
        "cachever": "",
        "mainpage": "",
        "installer": "direct",
    }


def apply_setting(config, key, value):
    """Validates one key=value pair into config; raises ValueError when bad."""
    if key not in config:
        raise ValueError("unknown key %r" % key)
    if key == "announce" and value not in ANNOUNCE_MODES:
        raise ValueError("announce must be one of %s" % ", ".join(ANNOUNCE_MODES))
    if key == "installer" and value not in INSTALLER_MODES:
        raise ValueError("installer must be one of %s" % ", ".join(INSTALLER_MODES))
    if key == "forcenotice" and value not in ("on", "off"):
        raise ValueError("forcenotice must be on or off")
    if key in ("staytime", "interval"):
        try:
            value = int(value)
        except (TypeError, ValueError):
            raise ValueError("%s must be an integer" % key) from None
    config[key] = value


class DemoState:
    def __init__(self, config, marker):
        self.lock = threading.Lock()
        self.initial = dict(config)
        self.config = dict(config)
        self.marker = marker
        self.requests = []

    def snapshot(self):
        with self.lock:
            return dict(self.config)

    def update(self, pairs):
        """Applies all pairs or none of them."""
        with self.lock:
            pending = dict(self.config)
            for key, value in pairs:
                if key == "reset":
                    pending = dict(self.initial)
                else:
                    apply_setting(pending, key, value)
            self.config = pending
            return dict(pending)

    def record(self, path):
        with self.lock:
            self.requests.append(path)

    def take_requests(self, clear):
        with self.lock:
            seen = list(self.requests)
            if clear:
                self.requests.clear()
            return seen


def version_document(config, base):
    announced = config["latest"] or (
        CURRENT_VERSION if config["announce"] == "uptodate" else NEWER_VERSION)
    system_info = {
        "noticeStayTime": config["staytime"],
        "checkUpdateInterval": config["interval"],
    }
    global_part = {}
    if config["forcenotice"] == "on":
        global_part["forceNotice"] = json.loads(json.dumps(FORCE_NOTICE))
    global_part["systemInfo"] = system_info
    document = {"global": global_part}
    if config["announce"] == "none":
        return document

    prefix = {"direct": "", "redirect": "redirect/", "nolength": "nolength/"}[config["installer"]]
    version = {}
    if config["cachever"]:
        version["cache"] = {"clear": "true", "ver": config["cachever"]}
    version["win"] = {
        "latest-version": announced,
        "main-page": config["mainpage"] or base,
        "updateflag": "force" if config["announce"] == "mandatory" else "",
        "update-url": "%sdownloads/%snorva-setup-%s.run" % (base, prefix, announced),
    }
    document["version"] = version
    return document


def installer_script(version, marker):
    return (
        "#!/bin/sh\n"
        "# Norva demo installer: it installs nothing, it only records that it ran.\n"
        "marker=%s\n"
        "printf 'installed %%s %%s\\n' %s \"$(date)\" > \"$marker\" || exit 1\n"
        "echo \"norva demo installer %s: wrote $marker\"\n"
        % (shlex.quote(marker), shlex.quote(version), version)
    ).encode("utf-8")


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "NorvaDemo/1.0"
    state = None  # set by make_server
    quiet = False

    # -- plumbing -----------------------------------------------------------

    def log_message(self, fmt, *args):
        if not self.quiet:
            sys.stderr.write("%s [%s] %s\n" % (
                self.address_string(), self.log_date_time_string(), fmt % args))

    def base_url(self):
        return "http://%s:%d/" % (HOST, self.server.server_address[1])

    def send_body(self, status, content_type, body, extra_headers=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        for name, value in extra_headers:
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def send_json(self, value, status=200):
        body = json.dumps(value, ensure_ascii=False, indent=2).encode("utf-8")
        self.send_body(status, "application/json; charset=utf-8", body)

    def send_not_found(self):
        self.send_body(404, "text/plain; charset=utf-8", b"404 not found\n")

    def do_HEAD(self):
        self.do_GET()

    def do_GET(self):
        url = urlsplit(self.path)
        if not url.path.startswith("/_demo/"):
            self.state.record(self.path)
        try:
            self.route(url.path, parse_qsl(url.query, keep_blank_values=True))
        except (BrokenPipeError, ConnectionResetError):
            # The client cancelled (e.g. an aborted download); nothing to answer.
            self.close_connection = True

    # -- routes -------------------------------------------------------------

    def route(self, path, query):
        if path in PAGE_ROUTES:
            return self.serve_page(PAGE_ROUTES[path])
        match = STATIC_RE.match(path)
        if match:
            return self.serve_page(match.group(1))
        if path == "/kst-client/updates/version.json":
            return self.serve_version()
        match = INSTALLER_RE.match(path)
        if match:
            return self.serve_installer(match.group(1), match.group(2))
        if path == "/downloads/big":
            return self.serve_big(query)
        if path in FILES:
            body, content_type, name = FILES[path]
            return self.send_body(200, content_type, body, [
                ("Content-Disposition", 'attachment; filename="%s"' % name)])
        if path == "/_demo/config":
            try:
                return self.send_json(self.state.update(query))
            except ValueError as error:
                return self.send_json({"error": str(error)}, status=400)
        if path == "/_demo/requests":
            clear = dict(query).get("clear") not in (None, "", "0")
            return self.send_json(self.state.take_requests(clear))
        return self.send_not_found()

    def serve_page(self, name):
        file_path = os.path.join(PAGES_DIR, name)
        try:
            with open(file_path, "rb") as page:
                body = page.read()
        except OSError:
            return self.send_not_found()
        self.send_body(200, STATIC_TYPES[os.path.splitext(name)[1]], body)

    def serve_version(self):
        config = self.state.snapshot()
        if config["announce"] == "broken":
            return self.send_body(200, "application/json; charset=utf-8", b"{not json")
        self.send_json(version_document(config, self.base_url()))

    def serve_installer(self, variant, version):
        if variant == "redirect":
            self.send_response(302)
            self.send_header("Location", "%sdownloads/norva-setup-%s.run" % (self.base_url(), version))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return None
        body = installer_script(version, self.state.marker)
        if variant != "nolength":
            return self.send_body(200, "application/octet-stream", body)
        # No length: the body ends when the connection closes.
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Connection", "close")
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)
        self.close_connection = True
        return None

    def serve_big(self, query):
        try:
            megabytes = int(dict(query).get("mb", "1"))
        except ValueError:
            megabytes = -1
        if not 0 <= megabytes <= MAX_BIG_MB:
            return self.send_body(400, "text/plain; charset=utf-8",
                                  b"mb must be an integer from 0 to %d\n" % MAX_BIG_MB)
        total = megabytes * MIB
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(total))
        self.send_header("Content-Disposition", 'attachment; filename="big-%dmb.bin"' % megabytes)
        self.end_headers()
        if self.command == "HEAD":
            return None
        remaining = total
        while remaining:
            chunk = ZERO_CHUNK if remaining >= len(ZERO_CHUNK) else ZERO_CHUNK[:remaining]
            self.wfile.write(chunk)
            remaining -= len(chunk)
        return None


def parse_args(argv):
    parser = argparse.ArgumentParser(description="Norva demo service (binds 127.0.0.1 only).")
    parser.add_argument("--port", type=int, default=DEFAULT_PORT,
                        help="port to listen on; 0 picks a free one (default %(default)s)")
    parser.add_argument("--announce", choices=ANNOUNCE_MODES, default="uptodate")
    parser.add_argument("--latest", default="", help="override the announced latest-version")
    parser.add_argument("--forcenotice", choices=("on", "off"), default="on")
    parser.add_argument("--staytime", type=int, default=3)
    parser.add_argument("--interval", type=int, default=86400)
    parser.add_argument("--cachever", default="")
    parser.add_argument("--mainpage", default="")
    parser.add_argument("--installer", choices=INSTALLER_MODES, default="direct")
    parser.add_argument("--marker", default=None,
                        help="file the served installer writes (default: %s in the "
                             "directory the installer is run from)" % DEFAULT_MARKER)
    parser.add_argument("--quiet", action="store_true", help="do not log requests to stderr")
    return parser.parse_args(argv)


def make_server(args):
    config = default_config()
    for key in config:
        apply_setting(config, key, getattr(args, key))
    marker = os.path.abspath(args.marker) if args.marker else DEFAULT_MARKER
    handler = type("DemoHandler", (Handler,), {
        "state": DemoState(config, marker), "quiet": args.quiet})
    return ThreadingHTTPServer((HOST, args.port), handler)


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    server = make_server(args)

    def stop(_signum, _frame):
        # Once is enough; a second signal must not interrupt the cleanup.
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        raise KeyboardInterrupt

    # Explicit for SIGINT too: a shell starting us in the background ignores it.
    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    try:
        print("serving on http://%s:%d/" % (HOST, server.server_address[1]), flush=True)
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
