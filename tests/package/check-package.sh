#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package (scripts/package.sh) and checks it as a user's machine gets it: lintian, desktop entry
# and AppStream metainfo, every file in place; then (as root) installs it with apt, starts the installed programs,
# and has the installed D-Bus service file start the installed station on a private session bus in a private
# network namespace. A package this test installed is removed again.
#   tests/package/check-package.sh BUILD_DIR
set -euo pipefail

if [ "${1:-}" = --bus ]; then # inside netns.sh: SERVICE_DIR WORK_DIR EXPECTED_STATION_BINARY
    services=$2 work=$3 expected=$4
    cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:path=$work/bus</listen><servicedir>$services</servicedir>
  <auth>EXTERNAL</auth><policy context="default">
    <allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy></busconfig>
CONF
    # The bus hands its environment to the station it starts: settings and home are the test's own.
    HOME=$work XDG_CONFIG_HOME=$work/config dbus-daemon --nofork --config-file="$work/bus.conf" >"$work/bus.log" 2>&1 &
    daemon=$! station=""
    # shellcheck disable=SC2317 # called by the trap
    finish() {
        if [ -n "$station" ]; then
            kill -TERM "$station" 2>/dev/null || true
            for _ in $(seq 100); do [ -e "/proc/$station" ] || break; sleep 0.1; done
        fi
        kill -TERM "$daemon" 2>/dev/null || true
        wait "$daemon" 2>/dev/null || true
    }
    trap finish EXIT
    for _ in $(seq 100); do [ -S "$work/bus" ] && break; sleep 0.1; done
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/bus"
    call() { timeout 40 dbus-send --session --print-reply --reply-timeout=30000 "$@"; }
    if ! reply=$(call --dest=org.parlevox.EchoLink /org/parlevox/EchoLink org.parlevox.EchoLink.OwnCallsign); then
        echo "the bus did not start the station; bus and station said:" >&2
        cat "$work/bus.log" >&2
        exit 1
    fi
    station=$(call --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetConnectionUnixProcessID string:org.parlevox.EchoLink | awk '/uint32/ {print $2}')
    started=$(readlink "/proc/$station/exe")
    echo "the bus started $started (pid $station); its OwnCallsign: $(grep -o 'string .*' <<<"$reply")"
    grep -q 'string "QX1PKG-L"' <<<"$reply" || { echo "unexpected callsign" >&2; exit 1; }
    [ "$started" = "$expected" ] || { echo "the bus started $started, not $expected" >&2; exit 1; }
    exit 0
fi

build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
src=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d)
chmod 755 "$scratch" # apt's download user reads the package from here
installed_here=0
cleanup() {
    if [ "$installed_here" = 1 ]; then
        echo "-- removing the package installed by this test"
        dpkg -r parlevox >/dev/null || echo "could not remove the package parlevox" >&2
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $1" >&2; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then echo "ok: $what"; else fail "$what"; fi; }
for tool in lintian desktop-file-validate appstreamcli dpkg-deb groff file dbus-daemon dbus-send ip; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/install-deps.sh --test installs it)" >&2; exit 1; }
done

has_lines() { local file=$1 line; shift; for line in "$@"; do grep -qxF -- "$line" "$file" || return 1; done; }
stripped_program() { [ -x "$1" ] && file -L "$1" | grep -q 'ELF.*, stripped'; }
man_renders() { # groff's own warnings (lintian reports only some) and an empty page fail
    local out
    out=$(zcat "$1" | groff -man -Tutf8 -ww -z 2>&1) && [ -z "$out" ] && zcat "$1" | grep -q '^\.SH NAME'
}
png_of_size() { file "$1" | grep -q "PNG image data, $2 x $2,"; }
prints() { local expected=$1; shift; [ "$("$@")" = "$expected" ]; }
refuses_unknown_option() {
    local out status=0
    out=$("$@" --no-such-option 2>&1) || status=$?
    [ "$status" = 1 ] && grep -q "Unknown option 'no-such-option'" <<<"$out"
}
noscreen() { env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$@"; } # options are read before any screen

echo "-- building the package"
deb=$(bash "$src/scripts/package.sh" "$build" | tail -n 1)
[ -f "$deb" ] || { echo "FAIL: scripts/package.sh made no package" >&2; exit 1; }
cp "$deb" "$scratch/"
deb="$scratch/$(basename "$deb")"
version=$(dpkg-deb -f "$deb" Version)
echo "package: $deb, version $version"
check "version is the project's" grep -qx "project(Parlevox VERSION $version LANGUAGES CXX)" "$src/CMakeLists.txt"

echo "-- control fields"
field() { dpkg-deb -f "$deb" "$1"; }
dpkg-deb -f "$deb" | grep -E '^(Depends|Recommends|Section|Maintainer):'
check "section hamradio" test "$(field Section)" = hamradio
check "Depends has the Qt libraries, found from the programs and the web engine plug-in" \
    grep -q 'libqt6webenginewidgets6' <<<"$(field Depends)"
check "Depends has libspeechd's runtime, the speech server and a session bus" \
    grep -qE 'libspeechd2.*speech-dispatcher,.*dbus-session-bus|speech-dispatcher,.*dbus-session-bus.*libspeechd2' \
    <<<"$(field Depends)"
check "Depends has no Qt speech plug-in" test -z "$(grep -o 'qt6-speech-[a-z-]*-plugin' <<<"$(field Depends)")"
depends=$(field Depends | sed 's/[,|]/\n/g' | sed 's/(.*//; s/[[:space:]]//g') # names alone, no versions
check "nothing needed only to build in Depends" \
    test -z "$(grep -E -- '-dev$|-dev-tools$|^(cmake|ninja-build|gcc|g\+\+|build-essential|pkg-config)$' <<<"$depends")"
check "a maintainer with an address" grep -qE '^.+ <[^@ ]+@[^@ ]+>$' <<<"$(field Maintainer)"
check "an extended description" test "$(field Description | wc -l)" -gt 3

echo "-- lintian"
lintian_out=$(lintian --fail-on error "$deb" 2>&1) && lintian_ok=1 || lintian_ok=0
echo "${lintian_out:-(nothing to say)}"
echo "lintian warnings: $(grep -c '^W:' <<<"$lintian_out" || true)"
check "lintian finds no error" test "$lintian_ok" = 1

echo "-- the files in the package"
root=$scratch/root
dpkg-deb -x "$deb" "$root"
for program in parlevox parlevox-station echolink-sim; do
    check "usr/bin/$program, stripped" stripped_program "$root/usr/bin/$program"
    check "man page $program(1) renders without warnings" man_renders "$root/usr/share/man/man1/$program.1.gz"
done
# The program looks for its web engine plug-in at one place relative to its own folder; the build folder has it there.
plugin=$(find "$build" -path "$build/_CPack_Packages" -prune -o -name parlevox-webengine.so -path '*/parlevox/*' -print)
plugin=$(realpath --relative-to="$build/bin" "$(head -n 1 <<<"$plugin")")
stripped_plugin() { file -L "$1" | grep -q 'ELF.*shared object.*, stripped'; }
check "web engine plug-in where usr/bin/parlevox looks ($plugin), stripped" stripped_plugin "$root/usr/bin/$plugin"
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
check "cmake --install under a prefix puts the web engine plug-in where its parlevox looks" test -f "$prefix/bin/$plugin"
service=$root/usr/share/dbus-1/services/org.parlevox.EchoLink.service
check "D-Bus service file starts the installed station, through the user unit where systemd runs the bus" \
    has_lines "$service" Name=org.parlevox.EchoLink Exec=/usr/bin/parlevox-station SystemdService=parlevox-station.service
check "user unit starts the installed station and waits for its bus name" \
    has_lines "$root/usr/lib/systemd/user/parlevox-station.service" ExecStart=/usr/bin/parlevox-station Type=dbus \
    BusName=org.parlevox.EchoLink
desktop=$root/usr/share/applications/org.parlevox.Parlevox.desktop
check "desktop entry valid" desktop-file-validate "$desktop"
check "desktop entry starts parlevox with its icon" has_lines "$desktop" Exec=parlevox Icon=org.parlevox.Parlevox
icons=$root/usr/share/icons/hicolor
check "scalable icon" grep -q '<svg' "$icons/scalable/apps/org.parlevox.Parlevox.svg"
for size in 16 22 24 32 48 64 128 256; do
    check "icon ${size}x$size" png_of_size "$icons/${size}x$size/apps/org.parlevox.Parlevox.png" "$size"
done
metainfo=$root/usr/share/metainfo/org.parlevox.Parlevox.metainfo.xml
check "AppStream metainfo valid" appstreamcli validate --no-net --explain "$metainfo"
check "AppStream release is this version" grep -q "<release version=\"$version\"" "$metainfo"
check "copyright and changelog" test -s "$root/usr/share/doc/parlevox/copyright" -a -s \
    "$root/usr/share/doc/parlevox/changelog.gz"

if [ "$(id -u)" = 0 ]; then
    echo "-- installing with apt (waiting for another apt run rather than failing)"
    dpkg-query -W -f='${Status}' parlevox 2>/dev/null | grep -q 'install ok installed' || installed_here=1
    if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=600 \
        "$deb" >"$scratch/apt.log" 2>&1; then
        cat "$scratch/apt.log" >&2
        fail "apt-get install of the package; the installed programs cannot be tried"
        exit 1
    fi
    echo "ok: apt-get install of the package"
    bin=/usr/bin services=/usr/share/dbus-1/services
else
    echo "-- SKIPPED: installing the package needs root; the unpacked programs and service file are used instead"
    bin=$root/usr/bin services=$scratch/services
    mkdir -p "$services"
    sed "s|^Exec=/usr/bin/|Exec=$bin/|" "$service" >"$services/org.parlevox.EchoLink.service"
fi

check "parlevox --version" prints "Parlevox $version" noscreen "$bin/parlevox" --version
check "parlevox --help lists --version" grep -q -- --version <<<"$(noscreen "$bin/parlevox" --help)"
check "parlevox refuses an unknown option" refuses_unknown_option noscreen "$bin/parlevox"
check "parlevox-station --version" prints "parlevox-station $version" "$bin/parlevox-station" --version
check "echolink-sim --version" prints "echolink-sim $version" "$bin/echolink-sim" --version

echo "-- the session bus starts the station from the installed service file"
work=$scratch/bus
mkdir -p "$work/config"
printf '[STATION]\nCALLSIGN=QX1PKG-L\nBIND=127.0.0.1\nDIRECTORY=127.0.0.1\n' >"$work/config/parlevox-station.ini"
chmod 600 "$work/config/parlevox-station.ini"
check "a call to OwnCallsign starts $bin/parlevox-station" \
    bash "$src/tests/station/netns.sh" bash "$0" --bus "$services" "$work" "$bin/parlevox-station"

echo "package checks failed: $failures"
[ "$failures" = 0 ]
