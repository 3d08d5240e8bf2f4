#!/usr/bin/env python3
"""Idle and long-run benchmark of a client that sits in the tray.

  bench_idle.py --norva BIN --bare BIN [--rounds N] [--seconds S] [--popups N] [--balloons N]
                [--reloads N] [--work DIR]

Idle: the program started with --hidden and the bare engine window never mapped, on the same
loopback page (it connects the page's bridge where there is one), in alternating rounds. Each
is measured over S seconds (default 30) once its page has loaded and settled: CPU of the whole
process tree (% of one core) and the wake-ups of its GUI thread (voluntary context switches of
the main thread, /proc/<pid>/task/<pid>/status).

Long run: one hidden program is driven through its own page and bridge: a warm-up, then N
popups, N balloons (notices the version file's rules do not make popups) and N reloads
(defaults 1500 / 3000 / 150); RSS of the main process after the warm-up and after each part,
then the idle figures once more.

Prints a line per round, then IDLE_WAKEUPS, BARE_WAKEUPS (per second), IDLE_CPU, BARE_CPU (% of
a core), medians over the rounds; LONG_WAKEUPS, LONG_CPU (after the long run); RSS_WARM_KIB,
POPUP_B, BALLOON_B, RELOAD_B (RSS growth per item), and the counts. Needs a display with a
tray host (run-all.sh provides one).
"""
import argparse
import http.server
import json
import os
import queue
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_first_start import QuietHandler, client_env, descendants, stop  # noqa: E402

# Connects the bridge where there is one and reports its load. Only while driven (the long run)
# does it then ask the bench what to do: /cmd stays unanswered until there is something, and a
# pending request alone costs the engine 4 wake-ups a second, so an idle page asks nothing.
PAGE = """<!doctype html>
<html><head><meta charset="utf-8"><title>Norva idle bench</title>
<script src="qrc:///qtwebchannel/qwebchannel.js"></script></head>
<body><h1>目标与任务</h1><ul>%s</ul>
<script>
var DRIVEN = DRIVEN_FLAG, webobj = null;
function report(what) { return fetch(what + (what.indexOf('?') < 0 ? '?' : '&') + 't=' + Date.now()); }
function next() {
  fetch('/cmd').then(function (r) { return r.json(); }).then(function (cmd) {
    if (cmd.op === 'reload') { location.reload(); return; }
    var i = 0;
    (function send() {
      for (var k = 0; k < cmd.batch && i < cmd.count; ++k, ++i)
        webobj.sendMsgFromHtml(JSON.stringify({title: cmd.title + ' ' + i,
          content: '第 ' + i + ' 条：请在周五前完成关键结果的更新',
          extras: {busicType: cmd.busicType}}));
      if (i < cmd.count) setTimeout(send, cmd.interval);
      else report('/done?op=' + cmd.op).then(next);
    })();
  }).catch(function () { setTimeout(next, 1000); });
}
function start() { report('/loaded').then(function () { if (DRIVEN) next(); }); }
window.addEventListener('load', function () {
  if (typeof qt !== 'undefined')
    new QWebChannel(qt.webChannelTransport, function (ch) { webobj = ch.objects.webobj; start(); });
  else start();
});
</script></body></html>""" % "".join(
    "<li>关键结果 %d：完成第 %d 季度的里程碑</li>" % (i, i % 4 + 1) for i in range(200))

# Task notices (busicType 2) become popups; everything else a balloon. The stay time is short
# so the last popups are gone before the idle measurement after the long run.
VERSION = json.dumps({"global": {
    "forceNotice": {"status": 1, "busicTypes": [2],
                    "noticeInfo": [{"targetType": 0, "busicType": 2, "key": ["*"]}]},
    "systemInfo": {"noticeStayTime": 2}}})


class Bench:
    lock = threading.Condition()
    generation = 0  # one per launched client: a dead client's open /cmd takes no command
    driven = False
    loads = 0
    version_seen = False
    commands = queue.Queue()
    done = queue.Queue()


class Handler(QuietHandler):

    def do_GET(self):
        path = self.path
        if path == "/" or path.startswith("/?"):
            self.send_body(200, PAGE.replace("DRIVEN_FLAG", "true" if Bench.driven else "false"))
        elif path.startswith("/loaded"):
            with Bench.lock:
                Bench.loads += 1
                Bench.lock.notify_all()
            self.send_body(204, "")
        elif path.startswith("/cmd"):
            generation = Bench.generation
            while True:
                try:
                    command = Bench.commands.get(timeout=0.5)
                except queue.Empty:
                    command = None
                if generation != Bench.generation:
                    if command is not None:
                        Bench.commands.put(command)
                    self.close_connection = True
                    return
                if command is not None:
                    break
            self.send_body(200, json.dumps(command), "application/json")
        elif path.startswith("/done"):
            Bench.done.put(path)
            self.send_body(204, "")
        elif path.startswith("/kst-client/updates/version.json"):
            with Bench.lock:
                Bench.version_seen = True
                Bench.lock.notify_all()
            self.send_body(200, VERSION, "application/json")
        else:
            self.send_body(404, "not found", "text/plain")


def wait_until(predicate, timeout):
    end = time.monotonic() + timeout
    with Bench.lock:
        while not predicate():
            left = end - time.monotonic()
            if left <= 0:
                return False
            Bench.lock.wait(left)
    return True


def thread_cpu(pids):
    """Nanoseconds on a CPU per (process, thread), from schedstat."""
    out = {}
    for pid in pids:
        try:
            for tid in os.listdir("/proc/%d/task" % pid):
                with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                    out[(pid, tid)] = int(f.read().split()[0])
        except (OSError, IndexError, ValueError):
            pass
    return out


def cpu_between(before, after):
    """Seconds on a CPU between two thread_cpu samples; a thread born meanwhile counts from
    zero, one that ended meanwhile is lost (it cannot be read any more)."""
    return sum(ns - before.get(key, 0) for key, ns in after.items()) / 1e9


def main_thread_switches(pid):
    with open("/proc/%d/task/%d/status" % (pid, pid)) as f:
        for line in f:
            if line.startswith("voluntary_ctxt_switches:"):
                return int(line.split()[1])
    return 0


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def measure(pid, seconds):
    """(GUI-thread wake-ups per second, tree CPU in % of one core) over the given time."""
    pids = descendants(pid)
    cpu0, switches0, t0 = thread_cpu(pids), main_thread_switches(pid), time.monotonic()
    time.sleep(seconds)
    # Processes that started meanwhile count from zero; ones that ended are lost either way.
    pids = sorted(set(pids) | set(descendants(pid)))
    cpu1, switches1, t1 = thread_cpu(pids), main_thread_switches(pid), time.monotonic()
    return (switches1 - switches0) / (t1 - t0), 100.0 * cpu_between(cpu0, cpu1) / (t1 - t0)


def launch(argv, env, settle):
    """Starts a client and waits for its page to load (and, for the program, its version check),
    then for things to settle. Answers the process, or None."""
    Bench.generation += 1
    loads = Bench.loads
    proc = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)
    if not wait_until(lambda: Bench.loads > loads, 90):
        stop(proc)
        return None
    time.sleep(settle)
    return proc


def run_command(command, timeout):
    Bench.commands.put(command)
    try:
        Bench.done.get(timeout=timeout)
        return True
    except queue.Empty:
        return False


def notices(kind, count):
    # Popups 25 and balloons 50 every half second (a hidden page's timers may run only once a
    # second): a day's worth in a few minutes.
    if kind == "popups":
        return {"op": kind, "count": count, "batch": 25, "interval": 500, "busicType": 2,
                "title": "任务提醒"}
    return {"op": kind, "count": count, "batch": 50, "interval": 500, "busicType": 7,
            "title": "日程提醒"}


def reloads(count):
    for _ in range(count):
        loads = Bench.loads
        Bench.commands.put({"op": "reload"})
        if not wait_until(lambda: Bench.loads > loads, 60):
            return False
    return True


def long_run(argv, env, args):
    Bench.version_seen = False
    Bench.driven = True
    proc = launch(argv, env, 0)
    if proc is None or not wait_until(lambda: Bench.version_seen, 60):
        return None
    time.sleep(args.settle)
    out = {}
    try:
        ok = (run_command(notices("popups", 50), 120) and run_command(notices("balloons", 50), 120)
              and reloads(5))
        if not ok:
            return None
        time.sleep(args.settle)
        out["warm"] = rss_kib(proc.pid)
        last = out["warm"]
        for part, count, step in (("popups", args.popups, lambda: run_command(
                notices("popups", args.popups), 60 + args.popups)),
                                  ("balloons", args.balloons, lambda: run_command(
                                      notices("balloons", args.balloons), 60 + args.balloons)),
                                  ("reloads", args.reloads, lambda: reloads(args.reloads))):
            if not step():
                print("long run: %s did not finish" % part, flush=True)
                return None
            time.sleep(args.settle)
            rss = rss_kib(proc.pid)
            out[part] = (rss - last) * 1024.0 / max(count, 1)
            print("long run: %d %s, RSS %.1f MiB (%+.0f B each)"
                  % (count, part, rss / 1024.0, out[part]), flush=True)
            last = rss
        # Back to the idle page, which asks nothing; the engine's own clean-up after many
        # navigations runs for some 30 s, so wait that out.
        Bench.driven = False
        if not reloads(1):
            return None
        time.sleep(max(args.settle, 40))
        out["wakeups"], out["cpu"] = measure(proc.pid, args.seconds)
        out["end"] = rss_kib(proc.pid)
        print("long run: afterwards %.2f wake-ups/s, %.3f %% CPU, RSS %.1f MiB"
              % (out["wakeups"], out["cpu"], out["end"] / 1024.0), flush=True)
    finally:
        stop(proc)
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--norva", required=True)
    ap.add_argument("--bare", required=True)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--seconds", type=float, default=30.0)
    ap.add_argument("--settle", type=float, default=10.0)
    ap.add_argument("--popups", type=int, default=1500)
    ap.add_argument("--balloons", type=int, default=3000)
    ap.add_argument("--reloads", type=int, default=150)
    ap.add_argument("--skip-long-run", action="store_true")
    ap.add_argument("--work")
    args = ap.parse_args()

    work = args.work or tempfile.mkdtemp(prefix="norva-idlebench-")
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = "http://127.0.0.1:%d/" % server.server_address[1]

    norva_env = client_env(os.path.join(work, "norva-home"))
    norva_env["NORVA_SERVICE_URL"] = url
    clients = {"norva": ([args.norva, "--hidden"], norva_env),
               "bare": ([args.bare, url, "--hidden"], client_env(os.path.join(work, "bare-home")))}
    results = {"norva": ([], []), "bare": ([], [])}
    failures = 0
    for rnd in range(args.rounds):
        line = []
        for name in (["norva", "bare"] if rnd % 2 == 0 else ["bare", "norva"]):
            proc = launch(*clients[name], settle=args.settle)
            if proc is None:
                failures += 1
                line.append("%s failed" % name)
                continue
            try:
                wakeups, cpu = measure(proc.pid, args.seconds)
            finally:
                stop(proc)
            results[name][0].append(wakeups)
            results[name][1].append(cpu)
            line.append("%s %.2f wake-ups/s %.3f %% CPU" % (name, wakeups, cpu))
        print("round %d: %s" % (rnd + 1, ", ".join(line)), flush=True)

    def med(values):
        return statistics.median(values) if values else float("nan")

    print("IDLE_WAKEUPS %.2f" % med(results["norva"][0]))
    print("BARE_WAKEUPS %.2f" % med(results["bare"][0]))
    print("IDLE_CPU %.3f" % med(results["norva"][1]))
    print("BARE_CPU %.3f" % med(results["bare"][1]))

    if not args.skip_long_run:
        out = long_run(*clients["norva"], args)
        if out is None:
            failures += 1
        else:
            print("LONG_WAKEUPS %.2f" % out["wakeups"])
            print("LONG_CPU %.3f" % out["cpu"])
            print("RSS_WARM_MIB %.1f" % (out["warm"] / 1024.0))
            print("RSS_END_MIB %.1f" % (out["end"] / 1024.0))
            print("POPUP_B %.0f" % out["popups"])
            print("BALLOON_B %.0f" % out["balloons"])
            print("RELOAD_B %.0f" % out["reloads"])
            print("COUNTS %d %d %d" % (args.popups, args.balloons, args.reloads))
    server.shutdown()
    print("FAILURES %d" % failures)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
