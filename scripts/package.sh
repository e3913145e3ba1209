#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package of Parlevox (parlevox, parlevox-station, echolink-sim and their desktop files) with
# CPack and prints its path; install it with  sudo apt install ./build/parlevox_*.deb
#   scripts/package.sh [BUILD_DIR]    (default build/; an existing build folder is used as it is configured)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bash scripts/install-deps.sh
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${PARLEVOX_CMAKE_ARGS:-} >/dev/null
fi
# Only what goes into the package is built; cpack itself builds nothing (see packaging/CMakeLists.txt).
cmake --build "$build" -j "$(nproc)" --target parlevox parlevox-station echolink-sim
rm -f "$build"/parlevox_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/parlevox_*.deb
