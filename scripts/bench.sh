#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds (RelWithDebInfo) and runs every benchmark, then prints one table: figure, median, min, max, target,
# pass/fail. The full output of each benchmark is kept in build/bench/. Takes about a quarter of an hour; the idle
# benchmark alone watches for three minutes. Extra arguments go to every benchmark (e.g. --runs 3).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
# Qtel, another EchoLink program: bench_startup holds Parlevox's memory at start-up to Qtel's, measured beside it.
if ! dpkg-query -W -f='${Status}' qtel 2>/dev/null | grep -q 'install ok installed'; then
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends qtel >/dev/null ||
        echo "qtel could not be installed: bench_startup measures Parlevox without it" >&2
fi

out=build/bench
mkdir -p "$out"
status=0
for b in bench_incoming_chat bench_dbus_roundtrip bench_startup bench_idle bench_storm bench_station bench_station_voice bench_screenreader; do
    echo "== $b"
    if ! "build/bin/$b" "$@" 2>&1 | tee "$out/$b.txt"; then
        echo "$b failed" >&2
        status=1
    fi
done

echo
echo "Summary (load average before the last benchmark: $(cut -d' ' -f1-3 /proc/loadavg))"
{
    printf 'figure\tmedian\tmin\tmax\tunit\ttarget\tresult\n'
    cat "$out"/bench_*.txt | grep '^RESULT' | cut -f2-
} | column -t -s $'\t'
grep -q $'\tFAIL$' "$out"/bench_*.txt && status=1
exit $status
