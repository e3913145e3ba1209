#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing and builds Parlevox into build/ (executables in build/bin/): everything, or only the
# targets named, e.g. scripts/build.sh parlevox echolink-sim
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${PARLEVOX_CMAKE_ARGS:-} >/dev/null
cmake --build build -j "$(nproc)" ${1:+--target "$@"}
