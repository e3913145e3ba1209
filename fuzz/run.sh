#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the fuzz targets into build-fuzz/ (scripts/clang-build.sh) and runs each for the given number of seconds
# (default 30) on the seed corpus in fuzz/corpus/. New inputs go to build-fuzz/corpus/, findings to
# build-fuzz/findings/; the repository is not modified. Fails on the first crash or broken invariant.
#   fuzz/run.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(fuzz_settings fuzz_incoming_chat fuzz_callsign fuzz_el_control fuzz_el_text fuzz_el_directory)
fi

bash scripts/clang-build.sh "${targets[@]}"

mkdir -p build-fuzz/findings
for target in "${targets[@]}"; do
    mkdir -p "build-fuzz/corpus/$target"
    echo "== $target: ${seconds} s"
    # Leak checks stay on; out-of-memory and slow inputs count as findings too.
    build-fuzz/bin/"$target" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048 -timeout=10 \
        -dict="fuzz/$target.dict" -artifact_prefix="build-fuzz/findings/$target-" \
        "build-fuzz/corpus/$target" "fuzz/corpus/$target"
done
