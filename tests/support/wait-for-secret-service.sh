#!/bin/sh
# Waits up to 20 s until some process owns the Secret Service name on the session bus.
for _ in $(seq 200); do
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
    grep -q 'boolean true' && exit 0
  sleep 0.1
done
exit 1
