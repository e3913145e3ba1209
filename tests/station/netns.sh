#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# netns.sh COMMAND [ARGS...] runs COMMAND in a private network namespace of its own with only the loopback
# interface up, so that a test's sockets can reach nothing but 127.0.0.x of this namespace.
set -euo pipefail
if [ "${PARLEVOX_NETNS:-}" != "$$-inner" ]; then
    if [ "$(id -u)" = 0 ]; then ns=(unshare -n); else ns=(unshare -rn); fi
    exec "${ns[@]}" -- bash -c 'export PARLEVOX_NETNS="$$-inner"; exec bash "$0" "$@"' "$0" "$@"
fi
ip link set lo up
if ip -o link | grep -qv ' lo:'; then
    echo "netns.sh: not a private network namespace" >&2
    exit 3
fi
exec "$@"
