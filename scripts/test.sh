#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing (with what the interop test needs), builds with warnings as errors and runs every
# test, then the checks of scripts/check.sh (format, the clang build with sanitizers and the unit tests run on it,
# clang-tidy), then builds the fuzz targets (build-fuzz/) and runs each for PARLEVOX_FUZZ_SECONDS (default 30)
# on the seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --test
PARLEVOX_CMAKE_ARGS="-DPARLEVOX_WERROR=ON ${PARLEVOX_CMAKE_ARGS:-}" bash scripts/build.sh
ctest --test-dir build --output-on-failure --timeout 600 "$@"
bash scripts/check.sh
bash fuzz/run.sh "${PARLEVOX_FUZZ_SECONDS:-30}"
