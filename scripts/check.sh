#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The checks beside the tests: the product code's format (clang-format), the clang build of every program
# (scripts/clang-build.sh: warnings as errors, address and undefined-behaviour sanitizers), the unit tests
# of the voice and the bus client run on that build, and clang-tidy on the product code.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --test

mapfile -t product < <(git ls-files 'src/*.cpp' 'src/*.h' 'station/*.cpp' 'station/*.h' 'tools/*.cpp' 'tools/*.h')
echo "== clang-format: ${#product[@]} files"
clang-format --dry-run --Werror "${product[@]}"

sanitized=(QtVoiceTest DBusEchoLinkClientTest)
echo "== clang build, and ${sanitized[*]} under the sanitizers"
bash scripts/clang-build.sh parlevox parlevox-webengine parlevox-station echolink-sim "${sanitized[@]}"
# Leaks are checked; the suppressions name the one thread a test leaves hanging on purpose.
LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0" UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-fuzz -R "^($(IFS='|'; echo "${sanitized[*]}"))\$" --output-on-failure --timeout 300

echo "== clang-tidy"
mapfile -t units < <(git ls-files 'src/*.cpp' 'station/*.cpp' 'tools/*.cpp')
run-clang-tidy -quiet -p build-fuzz -j "$(nproc)" "${units[@]/#/$PWD/}" >build-fuzz/clang-tidy.log 2>&1 || true
if grep -q 'warning:\|error:' build-fuzz/clang-tidy.log; then
    grep -A3 'warning:\|error:' build-fuzz/clang-tidy.log
    echo "clang-tidy found the above (whole log: build-fuzz/clang-tidy.log)" >&2
    exit 1
fi
