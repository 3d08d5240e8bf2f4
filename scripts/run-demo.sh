#!/usr/bin/env bash
# Installs what is missing, builds, starts the stand-in service and opens Norva against it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
port=${NORVA_DEMO_PORT:-8765}
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

python3 "$root/demo/server.py" --port "$port" &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  curl -fs "http://127.0.0.1:$port/" >/dev/null 2>&1 && break
  sleep 0.1
done

export NORVA_SERVICE_URL="http://127.0.0.1:$port/"
if [[ -z ${DISPLAY:-} ]]; then
  echo "No DISPLAY: running on a private headless X server." >&2
  "$root/scripts/headless.sh" "$root/build/norva" "$@"
  exit $?
fi
[[ $(id -u) -eq 0 ]] && export QTWEBENGINE_DISABLE_SANDBOX=1
"$root/build/norva" "$@"
