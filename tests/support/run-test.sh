#!/bin/sh
# Runs one test program on a D-Bus session bus of its own, which ends with it: a Qt program
# without a bus would start one through X11 that outlives it. The bus has no Secret Service
# (so nothing ever reaches the real user's keyring, and the keyring-less fallback is what
# ordinary tests see), unless --keyring asks for an unlocked GNOME keyring of the test's own.
#   run-test.sh [--keyring] program [arguments]
set -eu

keyring=no
if [ "${1:-}" = "--keyring" ]; then
  keyring=yes
  shift
fi

dir=$(mktemp -d "${TMPDIR:-/tmp}/norva-bus-XXXXXX")
trap 'rm -rf "$dir"' EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
mkdir -m 700 "$dir/runtime" "$dir/data" "$dir/services"

# Found before the system's own service file, so the name is never activated.
cat >"$dir/services/org.freedesktop.secrets.service" <<EOF
[D-BUS Service]
Name=org.freedesktop.secrets
Exec=/bin/false
EOF
cat >"$dir/session.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <servicedir>$dir/services</servicedir>
  <include>/usr/share/dbus-1/session.conf</include>
</busconfig>
EOF

# What the bus starts keeps its sockets and files here, never in the real user's.
export XDG_RUNTIME_DIR="$dir/runtime"
export XDG_DATA_HOME="$dir/data"
export NORVA_TEST_KEYRING="$keyring"
NORVA_TEST_SUPPORT=$(cd "$(dirname "$0")" && pwd)
export NORVA_TEST_SUPPORT

status=0
dbus-run-session --config-file="$dir/session.conf" -- sh -c '
  if [ "$NORVA_TEST_KEYRING" = yes ]; then
    # Creates the login keyring with this password, unlocked. The daemon takes the Secret
    # Service name a moment after its launcher returns.
    printf %s norva-test | gnome-keyring-daemon --unlock --components=secrets >/dev/null ||
      { echo "gnome-keyring-daemon did not start" >&2; exit 1; }
    "$NORVA_TEST_SUPPORT/wait-for-secret-service.sh" ||
      { echo "the Secret Service did not come up" >&2; exit 1; }
  fi
  exec "$@"' run-test "$@" || status=$?
exit "$status"
