"""Tests for the demo service; run with: python3 -m unittest demo/test_server.py"""

import http.client
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.request

SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "server.py")
STARTUP_TIMEOUT = 10


def start_server(*args):
    """Starts the server on a free port; returns (process, port)."""
    proc = subprocess.Popen(
        [sys.executable, SERVER, "--port", "0", "--quiet", *args],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    first_line = []
    reader = threading.Thread(target=lambda: first_line.append(proc.stdout.readline()))
    reader.start()
    reader.join(STARTUP_TIMEOUT)
    line = first_line[0] if first_line else ""
    match = re.fullmatch(r"serving on http://127\.0\.0\.1:(\d+)/\n", line)
    if not match:
        proc.kill()
        proc.wait()
        raise RuntimeError("server did not start, first line: %r" % line)
    return proc, int(match.group(1))


def stop_server(proc, signum=signal.SIGTERM):
    proc.send_signal(signum)
    try:
        return proc.wait(STARTUP_TIMEOUT)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        proc.stdout.close()


class DemoServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="norva-demo-test-")
        # A quote and a space make sure the path is quoted safely in the script.
        cls.marker = os.path.join(cls.tmp, "it's a marker")
        cls.proc, cls.port = start_server("--marker", cls.marker)
        cls.base = "http://127.0.0.1:%d/" % cls.port

    @classmethod
    def tearDownClass(cls):
        stop_server(cls.proc)
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def setUp(self):
        self.configure("reset=1")

    # -- helpers ------------------------------------------------------------

    def request(self, path, method="GET"):
        """Raw request without following redirects; returns (response, body)."""
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        self.addCleanup(conn.close)
        conn.request(method, path)
        response = conn.getresponse()
        return response, response.read()

    def get(self, path, status=200):
        response, body = self.request(path)
        self.assertEqual(response.status, status, path)
        length = response.getheader("Content-Length")
        self.assertIsNotNone(length, "%s has no Content-Length" % path)
        self.assertEqual(int(length), len(body), path)
        return response, body

    def configure(self, query, status=200):
        return json.loads(self.get("/_demo/config?" + query, status)[1])

    def version_json(self):
        response, body = self.get("/kst-client/updates/version.json?t=%d" % time.time())
        self.assertTrue(response.getheader("Content-Type").startswith("application/json"))
        return body

    # -- version file -------------------------------------------------------

    def test_announce_modes(self):
        expected = {
            "uptodate": ("1.7.5", ""),
            "optional": ("1.7.6", ""),
            "mandatory": ("1.7.6", "force"),
        }
        for mode, (latest, flag) in expected.items():
            with self.subTest(mode=mode):
                self.assertEqual(self.configure("announce=" + mode)["announce"], mode)
                doc = json.loads(self.version_json())
                win = doc["version"]["win"]
                self.assertEqual(win["latest-version"], latest)
                self.assertEqual(win["updateflag"], flag)
                self.assertEqual(win["main-page"], self.base)
                self.assertEqual(win["update-url"],
                                 "%sdownloads/norva-setup-%s.run" % (self.base, latest))
                self.assertNotIn("cache", doc["version"])

        with self.subTest(mode="none"):
            self.configure("announce=none")
            doc = json.loads(self.version_json())
            self.assertNotIn("version", doc)
            self.assertIn("systemInfo", doc["global"])

        with self.subTest(mode="broken"):
            self.configure("announce=broken")
            body = self.version_json()
            self.assertEqual(body, b"{not json")

    def test_global_section_defaults_and_overrides(self):
        doc = json.loads(self.version_json())
        self.assertEqual(doc["global"]["systemInfo"],
                         {"noticeStayTime": 3, "checkUpdateInterval": 86400})
        force = doc["global"]["forceNotice"]
        self.assertEqual((force["status"], force["stayTime"], force["busicTypes"]), (1, 10, [2, 6]))
        self.assertEqual(
            [(n["targetType"], n["busicType"], n["key"]) for n in force["noticeInfo"]],
            [(0, 2, ["*"]), (1, 6, ["remind"]), (2, 6, ["invite"])])

        state = self.configure("forcenotice=off&staytime=7&interval=60&cachever=42"
                               "&mainpage=http://example.invalid/app&latest=2.0.0")
        self.assertEqual((state["staytime"], state["interval"]), (7, 60))
        doc = json.loads(self.version_json())
        self.assertNotIn("forceNotice", doc["global"])
        self.assertEqual(doc["global"]["systemInfo"],
                         {"noticeStayTime": 7, "checkUpdateInterval": 60})
        self.assertEqual(doc["version"]["cache"], {"clear": "true", "ver": "42"})
        self.assertEqual(doc["version"]["win"]["main-page"], "http://example.invalid/app")
        self.assertEqual(doc["version"]["win"]["latest-version"], "2.0.0")
        self.assertTrue(doc["version"]["win"]["update-url"].endswith("/norva-setup-2.0.0.run"))

    def test_bad_config_is_rejected_without_partial_changes(self):
        for query in ("announce=bogus", "staytime=soon", "nosuchkey=1",
                      "installer=ftp", "forcenotice=maybe", "announce=optional&interval=x"):
            with self.subTest(query=query):
                self.assertIn("error", self.configure(query, status=400))
                state = self.configure("")
                self.assertEqual((state["announce"], state["interval"]), ("uptodate", 86400))

    def test_start_flags_set_initial_state(self):
        proc, port = start_server("--announce", "mandatory", "--installer", "redirect",
                                  "--staytime", "9", "--cachever", "7")
        try:
            conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
            self.addCleanup(conn.close)
            conn.request("GET", "/kst-client/updates/version.json")
            doc = json.loads(conn.getresponse().read())
            self.assertEqual(doc["version"]["win"]["updateflag"], "force")
            self.assertIn("/downloads/redirect/", doc["version"]["win"]["update-url"])
            self.assertEqual(doc["global"]["systemInfo"]["noticeStayTime"], 9)
            self.assertEqual(doc["version"]["cache"]["ver"], "7")
        finally:
            stop_server(proc)

    def test_signals_exit_cleanly(self):
        for signum in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=signum.name):
                proc, _ = start_server()
                self.assertEqual(stop_server(proc, signum), 0)

    # -- installer ----------------------------------------------------------

    def test_installer_variants_serve_the_same_script(self):
        _, direct = self.get("/downloads/norva-setup-1.7.6.run")
        self.assertTrue(direct.startswith(b"#!/bin/sh\n"))

        self.configure("announce=optional&installer=redirect")
        url = json.loads(self.version_json())["version"]["win"]["update-url"]
        self.assertEqual(url, self.base + "downloads/redirect/norva-setup-1.7.6.run")
        response, _ = self.get(url[len(self.base) - 1:], status=302)
        self.assertEqual(response.getheader("Location"),
                         self.base + "downloads/norva-setup-1.7.6.run")

        self.configure("installer=nolength")
        url = json.loads(self.version_json())["version"]["win"]["update-url"]
        response, body = self.request(url[len(self.base) - 1:])
        self.assertEqual(response.status, 200)
        self.assertIsNone(response.getheader("Content-Length"))
        self.assertEqual(response.getheader("Content-Type"), "application/octet-stream")
        self.assertEqual(body, direct)

    def test_installer_script_writes_marker(self):
        if shutil.which("sh") is None:
            self.skipTest("no sh")
        _, script = self.get("/downloads/norva-setup-1.7.6.run")
        path = os.path.join(self.tmp, "setup.run")
        with open(path, "wb") as out:
            out.write(script)
        if os.path.exists(self.marker):
            os.remove(self.marker)
        subprocess.run(["sh", path], cwd=self.tmp, check=True, timeout=10,
                       stdout=subprocess.DEVNULL)
        with open(self.marker, encoding="utf-8") as marker:
            self.assertRegex(marker.read(), r"^installed 1\.7\.6 \S")

    # -- other downloads and pages ------------------------------------------

    def test_page_downloads(self):
        response, body = self.get("/files/report.pdf")
        self.assertEqual(response.getheader("Content-Type"), "application/pdf")
        self.assertEqual(response.getheader("Content-Disposition"),
                         'attachment; filename="report.pdf"')
        self.assertTrue(body.startswith(b"%PDF-") and body.rstrip().endswith(b"%%EOF"))
        response, body = self.get("/files/table.xlsx")
        self.assertEqual(response.getheader("Content-Type"),
                         "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet")
        self.assertIn("attachment", response.getheader("Content-Disposition"))

    def test_big_download_has_exact_length(self):
        _, body = self.get("/downloads/big?mb=2")
        self.assertEqual(len(body), 2 * 1024 * 1024)
        self.assertEqual(body.count(0), len(body))
        self.get("/downloads/big?mb=-1", status=400)

    def test_pages_and_their_local_assets_load(self):
        for path, needle in (("/", 'id="clientVersion"'), ("/login", 'id="telephone"'),
                             ("/page2", "<h1>Page 2</h1>"), ("/updates_new", "1.7.4")):
            with self.subTest(path=path):
                response, body = self.get(path)
                self.assertEqual(response.getheader("Content-Type"), "text/html; charset=utf-8")
                html = body.decode("utf-8")
                self.assertIn(needle, html)
                for asset in re.findall(r'(?:src|href)="(/static/[^"]+)"', html):
                    self.get(asset)

    def test_unknown_and_traversal_paths_are_404(self):
        for path in ("/nope", "/static/../server.py", "/static/missing.js",
                     "/downloads/norva-setup-.run", "/files/other.pdf", "/login.html"):
            with self.subTest(path=path):
                self.get(path, status=404)

    def test_request_list_records_client_paths_only(self):
        self.get("/_demo/requests?clear=1")
        self.get("/page2?from=test")
        self.get("/nope", status=404)
        seen = json.loads(self.get("/_demo/requests")[1])
        self.assertEqual(seen, ["/page2?from=test", "/nope"])


if __name__ == "__main__":
    unittest.main()
