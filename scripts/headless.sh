#!/usr/bin/env bash
# Runs a command inside a private X server with a tray host: Xvfb + trayer.
set -euo pipefail

xvfb_log=$(mktemp "${TMPDIR:-/tmp}/norva-xvfb-XXXXXX")
display_file=$(mktemp "${TMPDIR:-/tmp}/norva-display-XXXXXX")
# Xvfb picks a free display itself and writes its number: two runs started in the same second
# cannot both take the same one, as they could when this script chose it.
exec 3>"$display_file"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp >"$xvfb_log" 2>&1 &
xvfb_pid=$!
exec 3>&-
trayer_pid=""
cleanup() {
  [[ -n $trayer_pid ]] && kill "$trayer_pid" 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -f "$xvfb_log" "$display_file"
}
trap cleanup EXIT

# A busy disk can hold Xvfb up for seconds (it compiles its keymap through files).
display=""
for _ in $(seq 300); do
  [[ -s $display_file ]] && display=":$(tr -d '[:space:]' <"$display_file")" && break
  kill -0 "$xvfb_pid" 2>/dev/null || break # it has ended: its log says why
  sleep 0.1
done
[[ -n $display ]] || { echo "Xvfb did not start:" >&2; cat "$xvfb_log" >&2; exit 1; }
export DISPLAY=$display
for _ in $(seq 100); do
  xdpyinfo >/dev/null 2>&1 && break
  sleep 0.1
done
xdpyinfo >/dev/null 2>&1 || { echo "Xvfb did not start on $display:" >&2; cat "$xvfb_log" >&2; exit 1; }

# Without a tray host Qt reports no system tray and the tray features switch off.
trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
trayer_pid=$!
# Qt sees a tray only once the host owns the tray selection; trayer maps its window before that.
tray_owned() {
  python3 - <<'PY'
import ctypes, ctypes.util, sys
x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11") or "libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XInternAtom.restype = ctypes.c_ulong
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XGetSelectionOwner.restype = ctypes.c_ulong
x11.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
display = x11.XOpenDisplay(None)
if not display:
    sys.exit(2)
owner = x11.XGetSelectionOwner(display, x11.XInternAtom(display, b"_NET_SYSTEM_TRAY_S0", 0))
x11.XCloseDisplay(display)
sys.exit(0 if owner else 1)
PY
}
for _ in $(seq 100); do tray_owned && break; sleep 0.1; done
tray_owned || { echo "the tray host did not take the tray selection" >&2; exit 1; }

export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu}"
"$@"
