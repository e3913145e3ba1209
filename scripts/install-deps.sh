#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what Parlevox needs on Debian 12 to build, run and test. Safe to run again.
set -euo pipefail

PKGS=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-tools-dev-tools libqt6dbus6
    qt6-speech-dev qt6-speech-speechd-plugin qt6-speech-flite-plugin
    qt6-webengine-dev qt6-webengine-dev-tools
    libgl1-mesa-dev libglx-dev libxcb1-dev bsdextrautils
    speech-dispatcher speech-dispatcher-espeak-ng espeak-ng pulseaudio
    dbus dbus-x11 xvfb xdotool xclip xauth imagemagick faketime
    clang libclang-rt-14-dev
    fonts-dejavu-core fonts-liberation2
)

missing=()
for p in "${PKGS[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
