#!/bin/sh
# Installer download benchmark: the client's update path against curl, same server, same run.
#
#   bench/run-download-bench.sh [build-dir]      (default: build)
#
# SIZE_MB (default 200) sets the installer size, RUNS (default 3) the number of rounds; the best
# round of each counts. Needs a display: uses $DISPLAY, else xvfb-run.
set -eu

build=${1:-build}
size_mb=${SIZE_MB:-200}
runs=${RUNS:-3}
bin="$build/bench/bench_download"
[ -x "$bin" ] || { echo "no $bin: build the bench_download target first" >&2; exit 1; }
command -v curl >/dev/null || { echo "curl is needed" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/norva-dlbench-XXXXXX")
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

size=$((size_mb * 1024 * 1024))
"$bin" serve "$size" >"$work/server.out" &
server_pid=$!
port=
for _ in $(seq 1 100); do
    port=$(sed -n 's/^PORT //p' "$work/server.out")
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { echo "the server did not start" >&2; exit 1; }
url="http://127.0.0.1:$port/norva-setup-9.9.9.run"

if [ -n "${DISPLAY:-}" ]; then
    run_client() { "$bin" client "$url"; }
else
    run_client() { xvfb-run -a "$bin" client "$url"; }
fi

best_curl=
best_client=
growth=
i=1
time_curl() {
    t=$(curl -s -o "$work/curl.bin" -w '%{time_total}' "$url")
    got=$(stat -c %s "$work/curl.bin")
    [ "$got" -eq "$size" ] || { echo "curl got $got of $size bytes" >&2; exit 1; }
    rm -f "$work/curl.bin"
}
time_client() {
    run_client >"$work/client.out" 2>"$work/client.err" || true
    out="$work/client.out"
    exit_code=$(sed -n 's/^EXIT //p' "$out")
    bytes=$(sed -n 's/^BYTES //p' "$out")
    secs=$(sed -n 's/^SECONDS //p' "$out")
    before=$(sed -n 's/^HWM_BEFORE_KB //p' "$out")
    after=$(sed -n 's/^HWM_AFTER_KB //p' "$out")
    dir=$(sed -n 's/^DIR //p' "$out")
    if [ "$exit_code" != 0 ] || [ "$bytes" != "$size" ]; then
        echo "client run failed (exit '$exit_code', $bytes of $size bytes)" >&2
        cat "$work/client.err" >&2
        exit 1
    fi
    # The started installer (a script that exits at once) runs from that directory a second
    # after the client has quit.
    sleep 2
    case "$dir" in */norva-test-*) rm -rf "$dir" ;; esac
}
while [ "$i" -le "$runs" ]; do
    # Each download starts with no dirty pages left by the one before, and the two take turns
    # at going first.
    if [ $((i % 2)) -eq 1 ]; then
        sync; time_curl; sync; time_client
    else
        sync; time_client; sync; time_curl
    fi

    g=$((after - before))
    printf 'round %d: curl %.3f s, client %.3f s, client peak RSS growth %d kB\n' \
        "$i" "$t" "$secs" "$g"
    best_curl=$(awk -v a="$t" -v b="${best_curl:-$t}" 'BEGIN { print (a < b ? a : b) }')
    best_client=$(awk -v a="$secs" -v b="${best_client:-$secs}" 'BEGIN { print (a < b ? a : b) }')
    growth=$(awk -v a="$g" -v b="${growth:-$g}" 'BEGIN { print (a > b ? a : b) }')
    i=$((i + 1))
done

awk -v mb="$size_mb" -v c="$best_curl" -v n="$best_client" -v g="$growth" 'BEGIN {
    printf "installer size:            %d MB\n", mb
    printf "curl (best):               %.3f s  %.1f MB/s\n", c, mb / c
    printf "client (best):             %.3f s  %.1f MB/s\n", n, mb / n
    printf "throughput ratio:          %.2f (client / curl)\n", c / n
    printf "client peak RSS growth:    %.1f MB (largest of the rounds)\n", g / 1024
}'
