#!/usr/bin/env bash
# Installs what is missing, checks the layers, builds, and runs the whole test suite headless.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
# Layers first: an upward include or an include circle fails the run before anything is built.
python3 "$root/scripts/check-layers.py" "$root"
"$root/scripts/build.sh"
cd "$root/build"
# One test at a time: GUI tests compete for the active window and the keyboard otherwise.
# No retries: a test that fails once is a fault to find, not to repeat.
"$root/scripts/headless.sh" ctest --output-on-failure "$@"

# Then every source file as the Windows build sees it (syntax only; the build here is Linux), the
# same suite under AddressSanitizer + UndefinedBehaviorSanitizer + LeakSanitizer, and a short run
# of every fuzz target. Each step prints how long it took; a failing step does not keep
# the next one from running, but fails the whole run.
failed=()
step() {
  local start=$SECONDS
  "$@" || failed+=("$(basename "$1")")
  echo "== $(basename "$1") took $((SECONDS - start)) s"
}
step "$root/scripts/check-windows-syntax.sh" "$root/build"
step "$root/scripts/run-sanitizers.sh"
step "$root/scripts/run-fuzz.sh" "${NORVA_CI_FUZZ_SECONDS:-10}"
if [[ ${#failed[@]} -gt 0 ]]; then
  echo "failed: ${failed[*]}" >&2
  exit 1
fi
