#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package and checks it as a user's machine gets it: control fields, lintian, the desktop entry and
# AppStream validators, the files; as root installs it with apt (and removes it again); then a private session bus in
# a private network namespace starts the installed station from the installed service file.
#   tests/package/check-package.sh BUILD_DIR
set -euo pipefail
if [ "${1:-}" = --bus ]; then # inside netns.sh and dbus-run-session: EXPECTED_STATION_BINARY
    call() { timeout 40 dbus-send --session --print-reply --reply-timeout=30000 "$@"; }
    reply=$(call --dest=org.parlevox.EchoLink /org/parlevox/EchoLink org.parlevox.EchoLink.OwnCallsign)
    station=$(call --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.GetConnectionUnixProcessID \
        string:org.parlevox.EchoLink | awk '/uint32/ {print $2}')
    trap 'kill "$station"' EXIT
    grep -q 'string "QX1PKG-L"' <<<"$reply" && [ "$(readlink "/proc/$station/exe")" = "$2" ]
    exit
fi

build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd) src=$(cd "$(dirname "$0")/../.." && pwd) scratch=$(mktemp -d) installed_here=0
chmod 755 "$scratch" # apt's download user reads the package from here
trap '[ "$installed_here" = 0 ] || dpkg -r parlevox >/dev/null; rm -rf "$scratch"' EXIT
failures=0
check() { local what=$1; shift; if "$@"; then echo "ok: $what"; else echo "FAIL: $what" >&2; failures=$((failures + 1)); fi; }
has_lines() { local file=$1 line; shift; for line in "$@"; do grep -qxF -- "$line" "$file" || return 1; done; }
man_ok() { [ -z "$(zcat "$1" | groff -man -Tutf8 -ww -z 2>&1)" ] && zcat "$1" | grep -q '^\.SH NAME'; }
refuses() { local out s=0; out=$("$@" --no-such-option 2>&1) || s=$?; [ "$s" = 1 ] && grep -q "Unknown option 'no-such-option'" <<<"$out"; }
noscreen() { env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$@"; } # options are read before any screen

cp "$(bash "$src/scripts/package.sh" "$build" | tail -n 1)" "$scratch/" && deb=$(ls "$scratch"/parlevox_*.deb)
version=$(dpkg-deb -f "$deb" Version) depends=$(dpkg-deb -f "$deb" Depends)
check "version is the project's" grep -qx "project(Parlevox VERSION $version LANGUAGES CXX)" "$src/CMakeLists.txt"
check "section hamradio, a maintainer, a long description" test "$(dpkg-deb -f "$deb" Section)" = hamradio \
    -a "$(dpkg-deb -f "$deb" Description | wc -l)" -gt 3 -a -n "$(dpkg-deb -f "$deb" Maintainer | grep -E '^.+ <[^@ ]+@[^@ ]+>$')"
depends_on() { local d; for d in "$@"; do grep -qE "(^|[ ,|])$d( |,|$)" <<<"$depends" || return 1; done; }
check "Depends: Qt found from the programs and plug-in, speech runtime and server, a session bus" \
    depends_on libqt6webenginewidgets6 libspeechd2 speech-dispatcher dbus-session-bus
check "Depends: no Qt speech plug-in, nothing only for building" \
    test -z "$(sed 's/([^)]*)//g; s/ //g; s/[,|]/\n/g' <<<"$depends" | grep -E -- 'qt6-speech-.*-plugin|-dev$|-dev-tools$|^(cmake|ninja-build|gcc|g\+\+|pkg-config)$')"
check "lintian finds no error (none unstripped, copyright and changelog there)" lintian --fail-on error "$deb"

root=$scratch/root
dpkg-deb -x "$deb" "$root"
for program in parlevox parlevox-station echolink-sim; do
    check "$program's man page renders without warnings" man_ok "$root/usr/share/man/man1/$program.1.gz"
done
# parlevox looks for its web engine plug-in at one place beside its own folder; the build folder has it there.
plugin=$(find "$build" -path "$build/_CPack_Packages" -prune -o -name parlevox-webengine.so -path '*/parlevox/*' -print | head -n 1)
plugin=$(realpath --relative-to="$build/bin" "$plugin")
check "web engine plug-in where parlevox looks" test -f "$root/usr/bin/$plugin"
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
check "cmake --install puts the plug-in where its parlevox looks" test -f "$scratch/prefix/bin/$plugin"
service=$root/usr/share/dbus-1/services/org.parlevox.EchoLink.service
check "service file starts the station, through the user unit under systemd" \
    has_lines "$service" Name=org.parlevox.EchoLink Exec=/usr/bin/parlevox-station SystemdService=parlevox-station.service
check "user unit starts the station and waits for its bus name" has_lines "$root/usr/lib/systemd/user/parlevox-station.service" \
    ExecStart=/usr/bin/parlevox-station Type=dbus BusName=org.parlevox.EchoLink
share=$root/usr/share
check "desktop entry valid" desktop-file-validate "$share/applications/org.parlevox.Parlevox.desktop"
check "desktop entry starts parlevox with its icon" has_lines "$share/applications/org.parlevox.Parlevox.desktop" Exec=parlevox Icon=org.parlevox.Parlevox
for size in 16 22 24 32 48 64 128 256; do
    check "icon $size" grep -q "PNG image data, $size x $size," <<<"$(file "$share/icons/hicolor/${size}x$size/apps/org.parlevox.Parlevox.png")"
done
check "scalable icon" grep -q '<svg' "$share/icons/hicolor/scalable/apps/org.parlevox.Parlevox.svg"
check "AppStream metainfo valid" appstreamcli validate --no-net "$share/metainfo/org.parlevox.Parlevox.metainfo.xml"
check "AppStream release is this version" grep -q "<release version=\"$version\"" "$share/metainfo/org.parlevox.Parlevox.metainfo.xml"

bin=$root/usr/bin services=$scratch/services
if [ "$(id -u)" = 0 ]; then
    dpkg-query -W -f='${Status}' parlevox 2>/dev/null | grep -q 'install ok installed' || installed_here=1
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=600 "$deb" \
        >"$scratch/apt.log" 2>&1 || { cat "$scratch/apt.log" >&2; echo "FAIL: apt-get install of the package" >&2; exit 1; }
    bin=/usr/bin services=/usr/share/dbus-1/services
else
    echo "SKIPPED: installing needs root; the unpacked programs and service file are used instead"
    mkdir -p "$services" && sed "s|^Exec=/usr/bin/|Exec=$bin/|" "$service" >"$services/org.parlevox.EchoLink.service"
fi
check "parlevox --version" test "$(noscreen "$bin/parlevox" --version)" = "Parlevox $version"
check "parlevox refuses an unknown option" refuses noscreen "$bin/parlevox"
check "parlevox-station and echolink-sim --version" test "$("$bin/parlevox-station" --version; "$bin/echolink-sim" --version)" = \
    "parlevox-station $version"$'\n'"echolink-sim $version"
mkdir -p "$scratch/bus/config"
(umask 077; printf '[STATION]\nCALLSIGN=QX1PKG-L\nBIND=127.0.0.1\nDIRECTORY=127.0.0.1\n' >"$scratch/bus/config/parlevox-station.ini")
printf '<busconfig><type>session</type><listen>unix:path=%s/bus</listen><servicedir>%s</servicedir><auth>EXTERNAL</auth><policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy></busconfig>' \
    "$scratch/bus" "$services" >"$scratch/bus/bus.conf"
# The bus hands its environment to the station it starts: settings and home are the test's own.
check "the bus starts $bin/parlevox-station for a call" bash "$src/tests/station/netns.sh" env HOME="$scratch/bus" \
    XDG_CONFIG_HOME="$scratch/bus/config" dbus-run-session --config-file="$scratch/bus/bus.conf" -- bash "$0" --bus "$bin/parlevox-station"
echo "package checks failed: $failures"
[ "$failures" = 0 ]
