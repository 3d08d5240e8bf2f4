#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite headless.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
cd "$root/build"
# One test at a time: GUI tests compete for the active window and the keyboard otherwise.
# A test that fails is run once more, so a timing hiccup on a loaded machine does not fail CI;
# the first failure still shows in the output.
"$root/scripts/headless.sh" ctest --output-on-failure --repeat until-pass:2 "$@"
