#!/usr/bin/env python3
"""First-start benchmark: launch until the page reports its load event, and the memory (PSS)
of the process tree 2 s after that, for the program and for a bare engine window, launched in
alternating rounds against one loopback page.

  bench_first_start.py --norva BIN --bare BIN [--rounds N] [--work DIR]
  bench_first_start.py serve            serves the page only, prints "PORT <n>", runs until killed

Each client keeps its own home across the rounds; round 0 warms both and is not counted, and
there the program's window size is read (xdotool) and handed to the bare window, so both render
the page at the same size.
Prints one line per round, then FIRST_START_MS, BARE_START_MS, NORVA_PSS_MIB, BARE_PSS_MIB
(medians). Needs a display (run-all.sh provides one).
"""
import argparse
import http.server
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

PAGE = """<!doctype html>
<html><head><meta charset="utf-8"><title>Norva bench page</title>
<style>body{font-family:sans-serif;margin:2em}li{margin:.3em 0}</style></head>
<body><h1>目标与任务</h1><ul>%s</ul>
<script>
window.addEventListener('load', function () {
  var r = new XMLHttpRequest();
  r.open('GET', '/loaded?t=' + Date.now());
  r.send();
});
</script></body></html>""" % "".join(
    "<li>关键结果 %d：完成第 %d 季度的里程碑</li>" % (i, i % 4 + 1) for i in range(200))


class State:
    lock = threading.Lock()
    loaded_at = None


class QuietHandler(http.server.BaseHTTPRequestHandler):
    """Keep-alive, silent, never cached: what every bench page server needs."""

    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send_body(self, code, body, ctype="text/html; charset=utf-8"):
        data = body.encode("utf-8")
        self.send_response(code)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(data)


class Handler(QuietHandler):

    def do_GET(self):
        if self.path.startswith("/loaded"):
            with State.lock:
                State.loaded_at = time.perf_counter()
            self.send_body(204, "")
        elif self.path == "/" or self.path.startswith("/?"):
            self.send_body(200, PAGE)
        elif self.path.startswith("/kst-client/updates/version.json"):
            # Unreadable version information ends the silent check without a box (a failed
            # request would show one).
            self.send_body(200, "not json", "application/json")
        else:
            self.send_body(404, "not found", "text/plain")


def start_server():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def descendants(root_pid):
    parents = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
            ppid = int(stat[stat.rindex(")") + 2:].split()[1])
            parents.setdefault(ppid, []).append(int(entry))
        except (OSError, ValueError):
            pass
    out, todo = [], [root_pid]
    while todo:
        pid = todo.pop()
        out.append(pid)
        todo.extend(parents.get(pid, []))
    return out


def pss_kib(pids):
    total = 0
    for pid in pids:
        try:
            with open("/proc/%d/smaps_rollup" % pid) as f:
                for line in f:
                    if line.startswith("Pss:"):
                        total += int(line.split()[1])
                        break
        except OSError:
            pass
    return total


def client_env(home):
    env = dict(os.environ)
    for key, sub in (("HOME", ""), ("XDG_CONFIG_HOME", ".config"), ("XDG_DATA_HOME", ".local/share"),
                     ("XDG_CACHE_HOME", ".cache"), ("XDG_RUNTIME_DIR", "runtime")):
        path = os.path.join(home, sub) if sub else home
        os.makedirs(path, exist_ok=True)
        env[key] = path
    os.chmod(env["XDG_RUNTIME_DIR"], 0o700)
    env.setdefault("QTWEBENGINE_DISABLE_SANDBOX", "1")
    env.setdefault("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu")
    return env


def stop(proc):
    try:
        os.killpg(proc.pid, signal.SIGTERM)
    except ProcessLookupError:
        pass
    try:
        proc.wait(10)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
    # Helpers that outlived their parent.
    time.sleep(0.3)


def window_size(pid):
    """WIDTHxHEIGHT of the largest visible window of the process, or None."""
    try:
        ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid)],
                             capture_output=True, text=True, timeout=10).stdout.split()
    except (OSError, subprocess.TimeoutExpired):
        return None
    best = None
    for wid in ids:
        out = subprocess.run(["xdotool", "getwindowgeometry", wid], capture_output=True,
                             text=True).stdout
        for line in out.splitlines():
            if "Geometry:" in line:
                w, h = (int(v) for v in line.split()[-1].split("x"))
                if best is None or w * h > best[0] * best[1]:
                    best = (w, h)
    return "%dx%d" % best if best else None


def run_once(argv, env, settle_s, measure_window=False):
    with State.lock:
        State.loaded_at = None
    t0 = time.perf_counter()
    proc = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)
    deadline = t0 + 90
    loaded = None
    while time.perf_counter() < deadline and proc.poll() is None:
        with State.lock:
            loaded = State.loaded_at
        if loaded is not None:
            break
        time.sleep(0.002)
    if loaded is None:
        stop(proc)
        return (None, None, None) if measure_window else (None, None)
    time.sleep(settle_s)
    pss = pss_kib(descendants(proc.pid))
    size = window_size(proc.pid) if measure_window else None
    stop(proc)
    if measure_window:
        return (loaded - t0) * 1000, pss / 1024, size
    return (loaded - t0) * 1000, pss / 1024


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "serve":
        server = start_server()
        print("PORT %d" % server.server_address[1], flush=True)
        signal.sigwait([signal.SIGTERM, signal.SIGINT])
        return 0

    ap = argparse.ArgumentParser()
    ap.add_argument("--norva", required=True)
    ap.add_argument("--bare", required=True)
    ap.add_argument("--rounds", type=int, default=9)
    ap.add_argument("--work")
    ap.add_argument("--settle", type=float, default=2.0)
    args = ap.parse_args()

    work = args.work or tempfile.mkdtemp(prefix="norva-startbench-")
    server = start_server()
    url = "http://127.0.0.1:%d/" % server.server_address[1]

    norva_env = client_env(os.path.join(work, "norva-home"))
    norva_env["NORVA_SERVICE_URL"] = url
    bare_env = client_env(os.path.join(work, "bare-home"))
    clients = {
        "norva": ([args.norva], norva_env),
        "bare": ([args.bare, url], bare_env),
    }
    results = {"norva": ([], []), "bare": ([], [])}
    failures = 0
    for rnd in range(args.rounds + 1):
        order = ["norva", "bare"] if rnd % 2 == 0 else ["bare", "norva"]
        line = []
        for name in order:
            argv, env = clients[name]
            if rnd == 0 and name == "norva":
                # The reference renders the page in a window of the same size.
                ms, mib, size = run_once(argv, env, args.settle, measure_window=True)
                if size:
                    clients["bare"][0].append(size)
                    print("window %s" % size, flush=True)
            else:
                ms, mib = run_once(argv, env, args.settle)
            if ms is None:
                failures += 1
                line.append("%s failed" % name)
                continue
            line.append("%s %.0f ms %.1f MiB" % (name, ms, mib))
            if rnd > 0:
                results[name][0].append(ms)
                results[name][1].append(mib)
        print("round %2d%s: %s" % (rnd, " (warm-up)" if rnd == 0 else "", ", ".join(line)),
              flush=True)
    server.shutdown()

    def med(values):
        return statistics.median(values) if values else float("nan")

    print("FIRST_START_MS %.1f" % med(results["norva"][0]))
    print("BARE_START_MS %.1f" % med(results["bare"][0]))
    print("NORVA_PSS_MIB %.1f" % med(results["norva"][1]))
    print("BARE_PSS_MIB %.1f" % med(results["bare"][1]))
    print("FAILURES %d" % failures)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
