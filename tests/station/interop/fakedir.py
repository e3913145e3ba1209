#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Fake EchoLink directory for the interop test: binds a loopback address only and logs every exchange,
one flushed line each, so that the test can wait on what the stations sent.

  login: b"l" CALL b"\\xac\\xac" PASSWORD b"\\r" STATUS b"\\r" DESCRIPTION b"\\r"  ->  b"OK"
  list:  b"s"  ->  b"@@@\\n" COUNT b"\\n", per station CALL\\n DATA\\n ID\\n IP\\n, then b"+++"

Log lines:  LOGIN from IP call=CALL password=PW status=STATUS desc='...' -> ON|BUSY|OFF reply=OK
            LIST from IP count=N calls=A,B,...     UNKNOWN from IP: BYTES     NOCOMMAND from IP
The list holds every station logged in ONLINE or BUSY, at the address it logged in from; an OFF login takes
it out.
"""
import argparse
import asyncio
import sys
import time

MAX_REQUEST = 1024  # a login is well under 200 bytes; a client sending more is cut off


def log(msg):
    print("%s.%03d %s" % (time.strftime("%H:%M:%S"), int(time.time() * 1000) % 1000, msg), flush=True)


def show(data):
    return "".join(chr(c) if 32 <= c < 127 and c != 92 else "\\x%02x" % c for c in data)


class Directory:
    def __init__(self):
        self.online = {}
        self.next_id = 900001

    def entries(self):
        return list(self.online.values())

    def list_reply(self, entries):
        parts = [b"@@@\n", b"%d\n" % len(entries)]
        for e in entries:
            # libecholib copies the part before '[' into a 45-byte buffer: keep it short.
            data = "%-27s [%s %s]" % (e["desc"][:27], e["status"], e["time"])
            parts += [e["call"].encode() + b"\n", data.encode("latin-1") + b"\n",
                      b"%d\n" % e["id"], e["ip"].encode() + b"\n"]
        parts.append(b"+++")
        return b"".join(parts)

    def login(self, ip, body):
        fields = body.split(b"\r")
        call, _, password = fields[0].partition(b"\xac\xac")
        call = call.decode("latin-1")
        status = fields[1].decode("latin-1") if len(fields) > 1 else ""
        desc = fields[2].decode("latin-1") if len(fields) > 2 else ""
        if status.startswith("OFF"):
            self.online.pop(call, None)
            state = "OFF"
        else:
            state = "BUSY" if status.startswith("BUSY") else "ON"
            hhmm = status[status.find("(") + 1:status.find(")")] if "(" in status else time.strftime("%H:%M")
            old = self.online.get(call)
            if not old:
                self.next_id += 1
            self.online[call] = dict(call=call, ip=ip, id=old["id"] if old else self.next_id, desc=desc,
                                     status=state, time=hhmm)
        log("LOGIN from %s call=%s password=%s status=%s desc=%r -> %s reply=OK"
            % (ip, call, show(password), show(status.encode("latin-1")), desc, state))
        return b"OK"

    async def handle(self, reader, writer):
        ip = writer.get_extra_info("peername")[0]
        try:
            first = await asyncio.wait_for(reader.readexactly(1), 10)
        except (asyncio.TimeoutError, asyncio.IncompleteReadError, ConnectionError):
            log("NOCOMMAND from %s" % ip)
            writer.close()
            return
        reply = b""
        if first == b"l":
            body = b""
            try:
                while body.count(b"\r") < 3 and len(body) < MAX_REQUEST:
                    chunk = await asyncio.wait_for(reader.read(MAX_REQUEST - len(body)), 10)
                    if not chunk:
                        break
                    body += chunk
            except (asyncio.TimeoutError, ConnectionError):
                pass
            reply = self.login(ip, body)
        elif first == b"s":
            entries = self.entries()
            reply = self.list_reply(entries)
            log("LIST from %s count=%d calls=%s" % (ip, len(entries), ",".join(e["call"] for e in entries)))
        else:
            data = first
            try:
                data += await asyncio.wait_for(reader.read(MAX_REQUEST), 0.5)
            except (asyncio.TimeoutError, ConnectionError):
                pass
            log("UNKNOWN from %s: %s" % (ip, show(data)))
        try:
            writer.write(reply)
            await writer.drain()
            # The client closes once it has the answer; give it a moment, then close from here.
            await asyncio.wait_for(reader.read(1), 3)
        except (asyncio.TimeoutError, ConnectionError):
            pass
        finally:
            writer.close()


async def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bind", required=True)
    args = ap.parse_args()
    if not args.bind.startswith("127."):
        sys.exit("fakedir.py: refusing to bind %s, loopback addresses only" % args.bind)
    server = await asyncio.start_server(Directory().handle, args.bind, 5200)
    log("LISTENING on %s:5200" % args.bind)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        pass
