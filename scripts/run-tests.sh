#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite headless.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
cd "$root/build"
# One test at a time: GUI tests compete for the active window and the keyboard otherwise.
# No retries: a test that fails once is a fault to find, not to repeat.
"$root/scripts/headless.sh" ctest --output-on-failure "$@"
