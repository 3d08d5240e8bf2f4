#!/usr/bin/env bash
# Runs every benchmark beside its reference in the same run and prints one table.
#
#   bench/run-all.sh [build-dir]      (default: build; configured with tests, as scripts/build.sh does)
#
# ROUNDS (default 9) sets the start-up rounds, SECOND_ROUNDS (default 15) the second-start rounds,
# NOTICES (default 100) the notices timed one by one; IDLE_ROUNDS (default 3) the idle rounds,
# POPUPS, BALLOONS and RELOADS (default 1500, 3000, 150) the long run; SIZE_MB and RUNS go to the
# download benchmark. Runs inside its own Xvfb with a tray host (scripts/headless.sh). Figures
# are medians; on a shared machine only the ratios carry from run to run.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)

if [[ -z ${NORVA_BENCH_INNER:-} ]]; then
  cmake --build "$build" -j2 --target norva bench_download bench_notice bench_bare_window \
    bench_loader_floor bench_second_start >/dev/null ||
    { echo "building the benchmarks in $build failed" >&2; exit 1; }
  NORVA_BENCH_INNER=1 exec "$root/scripts/headless.sh" "$0" "$build"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/norva-bench-XXXXXX")
server_pid=
cleanup() {
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

log() { echo "== $*" >&2; }
field() { sed -n "s/^$1 //p" "$2" | head -n1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# Start-up: the program and the bare engine window, alternating.
log "first start (${ROUNDS:-9} rounds per client)"
python3 "$root/bench/bench_first_start.py" --norva "$build/norva" \
  --bare "$build/bench/bench_bare_window" --rounds "${ROUNDS:-9}" --work "$work/first" \
  | tee "$work/first.out" >&2 || true

# Second start: a first instance that closes to the tray, with its own home and page.
log "second start (${SECOND_ROUNDS:-15} rounds)"
home="$work/second"
mkdir -p "$home/.config/Kestrel" "$home/runtime"
chmod 700 "$home/runtime"
cat >"$home/.config/Kestrel/Norva.conf" <<'EOF'
[GeneralSettings]
isQuitWhenClose=false

[ShortCutSettings]
openSoftware=
EOF
python3 "$root/bench/bench_first_start.py" serve >"$work/server.out" &
server_pid=$!
port=
for _ in $(seq 100); do
  port=$(field PORT "$work/server.out")
  [[ -n $port ]] && break
  sleep 0.1
done
[[ -n $port ]] || { echo "the page server did not start" >&2; exit 1; }
HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
  XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$home/runtime" \
  NORVA_SERVICE_URL="http://127.0.0.1:$port/" \
  "$build/bench/bench_second_start" "$build/norva" "$build/bench/bench_loader_floor" \
  "${SECOND_ROUNDS:-15}" | tee "$work/second.out" >&2 || true
kill "$server_pid" 2>/dev/null || true
server_pid=

# Notice to popup, in process.
log "notice to popup (${NOTICES:-100} notices, then 100 in one second)"
"$build/bench/bench_notice" "${NOTICES:-100}" 2>"$work/notice.err" | tee "$work/notice.out" >&2 || true

# Hidden and idle beside a bare engine window never mapped, then a long run.
log "idle (${IDLE_ROUNDS:-3} rounds of 30 s each), then ${POPUPS:-1500} popups, ${BALLOONS:-3000} balloons, ${RELOADS:-150} reloads"
python3 "$root/bench/bench_idle.py" --norva "$build/norva" --bare "$build/bench/bench_bare_window" \
  --rounds "${IDLE_ROUNDS:-3}" --popups "${POPUPS:-1500}" --balloons "${BALLOONS:-3000}" \
  --reloads "${RELOADS:-150}" --work "$work/idle" | tee "$work/idle.out" >&2 || true

# Installer download against curl.
log "installer download"
"$root/bench/run-download-bench.sh" "$build" | tee "$work/download.out" >&2 || true

load_after=$(cut -d' ' -f1-3 /proc/loadavg)

f=$work/first.out s=$work/second.out n=$work/notice.out d=$work/download.out i=$work/idle.out
n_start=$(field FIRST_START_MS "$f") b_start=$(field BARE_START_MS "$f")
n_pss=$(field NORVA_PSS_MIB "$f") b_pss=$(field BARE_PSS_MIB "$f")
s_ms=$(field SECOND_START_MS "$s") s_floor=$(field FLOOR_MS "$s") s_qapp=$(field QAPP_FLOOR_MS "$s")
p_ms=$(field NOTICE_MEDIAN_MS "$n") p_bare=$(field BARE_MEDIAN_MS "$n")
l_max=$(field LOAD_MAX_POPUPS "$n") l_order=$(field LOAD_ORDER_OK "$n")
l_widgets=$(field LOAD_LEAKED_WIDGETS "$n") l_anim=$(field LOAD_LEAKED_ANIMATIONS "$n")
i_wake=$(field IDLE_WAKEUPS "$i") b_wake=$(field BARE_WAKEUPS "$i")
i_cpu=$(field IDLE_CPU "$i") b_cpu=$(field BARE_CPU "$i")
lr_wake=$(field LONG_WAKEUPS "$i") lr_cpu=$(field LONG_CPU "$i")
lr_warm=$(field RSS_WARM_MIB "$i") lr_end=$(field RSS_END_MIB "$i")
lr_popup=$(field POPUP_B "$i") lr_balloon=$(field BALLOON_B "$i") lr_reload=$(field RELOAD_B "$i")
wake_goal=$(awk -v b="${b_wake:-0}" 'BEGIN { g = 1.5 * b + 1; if (g > 2) g = 2; printf "%.2f", g }')
cpu_goal=$(awk -v b="${b_cpu:-0}" 'BEGIN { printf "%.3f", b + 0.05 }')
d_ratio=$(sed -n 's/^throughput ratio: *\([0-9.]*\).*/\1/p' "$d")
d_client=$(sed -n 's/^client (best): *[0-9.]* s *\([0-9.]*\) MB\/s/\1/p' "$d")
d_curl=$(sed -n 's/^curl (best): *[0-9.]* s *\([0-9.]*\) MB\/s/\1/p' "$d")
d_growth=$(sed -n 's/^client peak RSS growth: *\([0-9.]*\) MB.*/\1/p' "$d")

echo
echo "Machine: $(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)," \
  "$(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n1); load average $load_before before, $load_after after"
echo
echo "| What | Norva | Reference in the same run | Ratio | Goal |"
echo "|---|---|---|---|---|"
echo "| Launch until the page's load event (median of ${ROUNDS:-9}) | ${n_start:-?} ms | bare engine window ${b_start:-?} ms | $(ratio "${n_start:-0}" "${b_start:-0}") | at most 1.10 |"
echo "| Process tree PSS 2 s after load | ${n_pss:-?} MiB | bare engine window ${b_pss:-?} MiB | $(ratio "${n_pss:-0}" "${b_pss:-0}") | at most 1.05 |"
echo "| Second start, tray to window shown and active (median of ${SECOND_ROUNDS:-15}) | ${s_ms:-?} ms | loader floor ${s_floor:-?} ms (with a QApplication: ${s_qapp:-?} ms) | $(ratio "${s_ms:-0}" "${s_floor:-0}") | at most 1.5, and 100 ms |"
echo "| Bridge call to the popup's first exposure (median of ${NOTICES:-100}) | ${p_ms:-?} ms | bare top-level widget ${p_bare:-?} ms | $(ratio "${p_ms:-0}" "${p_bare:-0}") | at most 16 ms |"
echo "| 100 notices in one second | at most ${l_max:-?} popups, order kept: $([[ ${l_order:-0} == 1 ]] && echo yes || echo no), leaked ${l_widgets:-?} widgets and ${l_anim:-?} animations | - | - | 3, yes, 0 |"
echo "| Hidden and idle, GUI-thread wake-ups per second (median of ${IDLE_ROUNDS:-3} x 30 s) | ${i_wake:-?} | bare engine window, unmapped ${b_wake:-?} | $(ratio "${i_wake:-0}" "${b_wake:-0}") | at most ${wake_goal} (2, and 1.5 x bare + 1) |"
echo "| Hidden and idle, CPU of the process tree (% of a core) | ${i_cpu:-?} | bare engine window, unmapped ${b_cpu:-?} | - | at most ${cpu_goal} (bare + 0.05) |"
echo "| After the long run (${POPUPS:-1500} popups, ${BALLOONS:-3000} balloons, ${RELOADS:-150} reloads), idle: wake-ups per second, CPU | ${lr_wake:-?}, ${lr_cpu:-?} % | - | - | at most ${wake_goal}, ${cpu_goal} % |"
echo "| Long run, RSS of the main process after warm-up and at the end | ${lr_warm:-?} MiB, ${lr_end:-?} MiB | - | - | - |"
echo "| Long run, RSS growth per popup, per balloon, per reload | ${lr_popup:-?} B, ${lr_balloon:-?} B, ${lr_reload:-?} B | - | - | balloons at most 512 B |"
echo "| Installer download, ${SIZE_MB:-200} MB, throughput | ${d_client:-?} MB/s | curl ${d_curl:-?} MB/s | ${d_ratio:-?} | at least 0.9 |"
echo "| Installer download, peak RSS growth | ${d_growth:-?} MB | - | - | at most 10 MB |"
