#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The clang build: everything compiled by clang with warnings as errors, the address and undefined-behaviour
# sanitizers and libFuzzer's coverage, into build-fuzz/. The fuzz targets, the sanitizer runs of unit tests
# and clang-tidy (scripts/check.sh) all use it. Builds the targets named, or every program and plug-in.
#   scripts/clang-build.sh [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARLEVOX_FUZZ=ON \
    -DPARLEVOX_WERROR=ON -DBUILD_TESTING=ON >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(parlevox parlevox-webengine parlevox-station echolink-sim)
fi
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]}"
