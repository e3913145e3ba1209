#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what Parlevox needs on Debian 12 to build, package, run and test. Safe to run again.
#   scripts/install-deps.sh          what building, running and the ordinary tests need
#   scripts/install-deps.sh --test   also what the station's interop test (svxlink and the EchoLink
#                                    library for its test peers), the package check and scripts/check.sh
#                                    need; svxlink's system service is left off
set -euo pipefail

with_test=0
for arg in "$@"; do
    case "$arg" in
    --test) with_test=1 ;;
    *)
        echo "usage: $0 [--test]" >&2
        exit 2
        ;;
    esac
done

PKGS=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-tools-dev-tools libqt6dbus6
    qt6-speech-dev qt6-speech-speechd-plugin qt6-speech-flite-plugin qt6-multimedia-dev
    qt6-webengine-dev qt6-webengine-dev-tools
    libgl1-mesa-dev libglx-dev libxcb1-dev bsdextrautils libgsm1-dev
    libspeechd-dev speech-dispatcher speech-dispatcher-espeak-ng espeak-ng pulseaudio
    dbus dbus-x11 xvfb xdotool xclip xauth imagemagick faketime
    clang libclang-rt-14-dev
    fonts-dejavu-core fonts-liberation2
    file
)
# The interop test: svxlink as a node, test peers built on libecholib (its headers include the Async and
# sigc++ ones), the fake directory and the packet watcher in Python, `ip` for the private network namespace.
# The package check: lintian, the desktop entry's and the AppStream validators, dpkg-deb.
TEST_PKGS=(
    svxlink-server libecholib-dev libasynccore-dev libasynccpp-dev libasyncaudio-dev libsigc++-2.0-dev
    python3 iproute2
    lintian desktop-file-utils appstream dpkg-dev
    # The screen reader test: Orca on the accessibility bus, in a window manager.
    orca at-spi2-core python3-pyatspi openbox
    # scripts/check.sh: the format and clang-tidy checks.
    clang-format clang-tidy
)
if [ "$with_test" = 1 ]; then
    PKGS+=("${TEST_PKGS[@]}")
fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

missing=()
for p in "${PKGS[@]}"; do
    installed "$p" || missing+=("$p")
done
if [ "$with_test" = 1 ] && installed svxlink-server && [ -n "$(ls /etc/rc[2-5].d/S*svxlink 2>/dev/null)" ]; then
    echo "Note: svxlink-server was here before and its system service is enabled; left as it is (tests do not use it)."
fi
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# svxlink-server starts its service from its install script; the tests run their own svxlink, and nobody
# asked for a radio server on this machine. Unless the machine has a policy of its own, one that forbids
# every start is put in place for the install and always taken away again.
POLICY=/usr/sbin/policy-rc.d
POLICY_MARK="# parlevox install-deps: temporary"
new_svxlink=0
for p in "${missing[@]}"; do
    [ "$p" = svxlink-server ] && new_svxlink=1
done
remove_policy() {
    if [ -f "$POLICY" ] && grep -qxF "$POLICY_MARK" "$POLICY"; then
        $SUDO rm -f "$POLICY"
    fi
}
if [ "$new_svxlink" = 1 ] && [ ! -e "$POLICY" ]; then
    trap remove_policy EXIT
    trap 'exit 130' INT TERM
    printf '#!/bin/sh\n%s\nexit 101\n' "$POLICY_MARK" | $SUDO tee "$POLICY" >/dev/null
    $SUDO chmod 755 "$POLICY"
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
remove_policy

# Disabled and stopped, whichever init system runs; each step is harmless when already done.
service_off() {
    local unit=$1
    if command -v systemctl >/dev/null && [ -f "/lib/systemd/system/$unit.service" ]; then
        if [ -d /run/systemd/system ]; then
            $SUDO systemctl disable --now "$unit.service" >/dev/null 2>&1 || true
        else
            $SUDO systemctl disable "$unit.service" >/dev/null 2>&1 || true
        fi
    fi
    if [ -x "/etc/init.d/$unit" ]; then
        $SUDO update-rc.d "$unit" disable >/dev/null 2>&1 || true
        if [ ! -d /run/systemd/system ] && "/etc/init.d/$unit" status >/dev/null 2>&1; then
            $SUDO "/etc/init.d/$unit" stop >/dev/null || true
        fi
    fi
}
if [ "$new_svxlink" = 1 ]; then
    service_off svxlink
    service_off svxlink_gpio_setup
    echo "svxlink-server installed for the tests; its system service is disabled and not running."
fi
