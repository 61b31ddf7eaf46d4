#!/usr/bin/env bash
# Starts the program in a real X server with the accessibility bus of a
# D-Bus session, and lets atspi_probe.py read it as a screen reader would.
# Usage: atspi_check.sh PROGRAM
set -uo pipefail
program=$1
here=$(dirname "$0")
for tool in Xvfb dbus-launch; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
/usr/bin/python3 -c "import pyatspi" 2>/dev/null || { echo "SKIP: python3-pyatspi is not installed"; exit 77; }

Xvfb -displayfd 4 -screen 0 1024x768x24 -nolisten tcp 4>/tmp/atspi_display.$$ >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s /tmp/atspi_display.$$ ] && break; sleep 0.1; done
export DISPLAY=":$(cat /tmp/atspi_display.$$)"
rm -f /tmp/atspi_display.$$
eval "$(dbus-launch --sh-syntax)"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb
"$program" >/dev/null 2>&1 &
app=$!
/usr/bin/python3 "$here/atspi_probe.py"
status=$?
kill "$app" "$xvfb" "$DBUS_SESSION_BUS_PID" 2>/dev/null
wait "$app" "$xvfb" 2>/dev/null
exit $status
