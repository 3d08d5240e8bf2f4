#!/usr/bin/env bash
# Refreshes the English catalogue from the sources: new texts arrive as unfinished entries to
# translate by hand, texts that no longer exist are dropped. Usage: update-translations.sh [ts]
# (default resources/en.ts). LUPDATE may name the lupdate program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
ts=${1:-$root/resources/en.ts}
lupdate=${LUPDATE:-lupdate}
cd "$root"
"$lupdate" -silent -locations none -no-obsolete -no-ui-lines -I . -target-language en \
  app mainwindow web bridge notify store update downloads settings platform -ts "$ts"
