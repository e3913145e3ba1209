#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and starts the stand-in EchoLink station in demo mode with Parlevox
# beside it. Ends both when Parlevox ends.
set -euo pipefail
cd "$(dirname "$0")/.."
# Built once: the script starts itself again below, inside a session bus or a virtual screen.
if [ -z "${PARLEVOX_BUILT:-}" ]; then
    bash scripts/build.sh parlevox echolink-sim
    export PARLEVOX_BUILT=1
fi

# Parlevox and the station meet on the session bus; start one if this shell has none.
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    exec dbus-run-session -- "$0" "$@"
fi

# No screen (a server or a container): draw on a virtual one and keep a screenshot of it up to date.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: running on a virtual screen; see build/screenshot.png"
    export PARLEVOX_SCREENSHOT=build/screenshot.png
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

# The station's log shows what happens; Parlevox's own status questions (twice a second) are left out.
build/bin/echolink-sim --demo --quiet-queries &
sim=$!
trap 'kill $sim 2>/dev/null || true; kill ${shot:-} 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    dbus-send --session --dest=org.freedesktop.DBus --print-reply /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.parlevox.EchoLink 2>/dev/null | grep -q true && break
    sleep 0.1
done
if [ -n "${PARLEVOX_SCREENSHOT:-}" ]; then
    # The main window alone once it is there, else the whole screen; replaced whole, never half written.
    (while sleep 5; do
        window=$(xdotool search --onlyvisible --name '^Parlevox    ' 2>/dev/null | head -n 1 || true)
        import -window "${window:-root}" "$PARLEVOX_SCREENSHOT.new.png" 2>/dev/null &&
            mv -f "$PARLEVOX_SCREENSHOT.new.png" "$PARLEVOX_SCREENSHOT" || true
    done) &
    shot=$!
fi
build/bin/parlevox
