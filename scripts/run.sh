#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and starts the stand-in EchoLink station in demo mode with Parlevox
# beside it. Ends both when Parlevox ends.
#   scripts/run.sh --station   the real station, parlevox-station, with the user's settings instead
set -euo pipefail
cd "$(dirname "$0")/.."
station=0
for argument in "$@"; do
    case "$argument" in
    --station) station=1 ;;
    *)
        echo "usage: scripts/run.sh [--station]" >&2
        exit 2
        ;;
    esac
done
# Built once: the script starts itself again below, inside a session bus or a virtual screen.
if [ -z "${PARLEVOX_BUILT:-}" ]; then
    if [ "$station" = 1 ]; then
        bash scripts/build.sh parlevox parlevox-station
        settings="${XDG_CONFIG_HOME:-$HOME/.config}/parlevox-station.ini"
        if [ ! -e "$settings" ]; then
            # Asked here, while the terminal is still ours: the station cannot go on the air without them.
            if [ -t 0 ]; then
                build/bin/parlevox-station --setup
            else
                echo "The station has no settings yet ($settings). Run build/bin/parlevox-station --setup in a" \
                    "terminal to enter your callsign and password, then scripts/run.sh --station again." >&2
                exit 1
            fi
        fi
    else
        bash scripts/build.sh parlevox echolink-sim
    fi
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

if [ "$station" = 1 ]; then
    # Ended with SIGTERM and waited for, so that it says goodbye to its stations and logs off.
    build/bin/parlevox-station &
    sim=$!
    trap 'kill $sim 2>/dev/null && wait $sim || true; kill ${shot:-} 2>/dev/null || true' EXIT
else
    # The station's log shows what happens; Parlevox's own status questions (twice a second) are left out.
    build/bin/echolink-sim --demo --quiet-queries &
    sim=$!
    trap 'kill $sim 2>/dev/null || true; kill ${shot:-} 2>/dev/null || true' EXIT
fi
for _ in $(seq 50); do
    dbus-send --session --dest=org.freedesktop.DBus --print-reply /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.parlevox.EchoLink 2>/dev/null | grep -q true && break
    if [ "$station" = 1 ] && ! kill -0 $sim 2>/dev/null; then
        status=0
        wait $sim || status=$?
        echo "parlevox-station ended (status $status) before it was ready; its message above says why." >&2
        exit 1
    fi
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
