#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Prints one flushed line per EchoLink datagram seen on the loopback device, so that the interop test can
tell that a station sent nothing at all to someone (no reply packet of any kind), which no peer's log can:

  UDP 127.0.0.8:5199 > 127.0.0.6:5199 len=68 kind=SDES|BYE|RR|INFO|CHAT|AUDIO|OTHER

Needs CAP_NET_RAW in its network namespace (root, or 'unshare -rn'); it is only run inside the test's own
private namespace, where loopback is the only device.
"""
import signal
import socket
import struct
import sys

ETH_P_ALL = 0x0003
PACKET_OUTGOING = 4
PORTS = (5198, 5199)


def kind(port, payload):
    if port == 5199:
        # Compound control packet: walk the sub-packets by their length fields, never past the end.
        found, offset = "OTHER", 0
        while offset + 4 <= len(payload):
            ptype = payload[offset + 1]
            if ptype == 203:
                return "BYE"
            if ptype == 202:
                found = "SDES"
            elif ptype in (200, 201) and found == "OTHER":
                found = "RR"
            offset += 4 * (struct.unpack_from("!H", payload, offset + 2)[0] + 1)
        return found
    if payload[:1] == b"\xc0":
        return "AUDIO"
    if payload[1:6] == b"NDATA":
        return "INFO" if payload[6:7] == b"\r" or payload[6:10] == b"CONF" else "CHAT"
    return "OTHER"


def describe(frame):
    """The line for an Ethernet frame, or None when it is not an EchoLink datagram."""
    if len(frame) < 14 + 20 + 8 or frame[12:14] != b"\x08\x00":
        return None
    ip = frame[14:]
    header = (ip[0] & 0x0F) * 4
    if ip[0] >> 4 != 4 or ip[9] != 17 or header < 20 or len(ip) < header + 8:
        return None
    sport, dport, ulen = struct.unpack_from("!HHH", ip, header)
    if sport not in PORTS and dport not in PORTS:
        return None
    payload = ip[header + 8:header + max(8, ulen)]
    return "UDP %s:%d > %s:%d len=%d kind=%s" % (socket.inet_ntoa(ip[12:16]), sport, socket.inet_ntoa(ip[16:20]),
                                                   dport, len(payload), kind(dport, payload))


def main():
    sock = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
    sock.bind(("lo", 0))
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    print("WATCHING lo", flush=True)
    while True:
        frame, address = sock.recvfrom(65536)
        if address[2] == PACKET_OUTGOING:  # loopback shows each frame twice
            continue
        line = describe(frame)
        if line:
            print(line, flush=True)


if __name__ == "__main__":
    main()
