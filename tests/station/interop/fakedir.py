#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Fake EchoLink directory on a loopback address, logging each exchange as one flushed line:
  b"l" CALL b"\\xac\\xac" PASSWORD b"\\r" STATUS b"\\r" DESC b"\\r" -> b"OK"   LOGIN from IP call=.. -> ON|BUSY|OFF
  b"s" -> b"@@@\\n" COUNT b"\\n" (CALL\\n DATA\\n ID\\n IP\\n)... b"+++"       LIST from IP count=N calls=A,B
The list holds every station logged in ONLINE or BUSY, at the address it logged in from."""
import asyncio
import sys
import time

online = {}


def log(msg):
    print(time.strftime("%H:%M:%S"), msg, flush=True)


async def handle(reader, writer):
    ip = writer.get_extra_info("peername")[0]
    body = b""
    try:  # a login is well under 200 bytes; 1 KiB cuts off a client that sends more
        while body[:1] != b"s" and body.count(b"\r") < 3 and len(body) < 1024:
            chunk = await asyncio.wait_for(reader.read(1024 - len(body)), 10)
            if not chunk:
                break
            body += chunk
    except (asyncio.TimeoutError, ConnectionError):
        pass
    if body[:1] == b"l":
        call, _, password = body[1:].decode("latin-1").partition("\xac\xac")
        password, status, desc = (password.split("\r") + ["", ""])[:3]
        state = "OFF" if status.startswith("OFF") else "BUSY" if status.startswith("BUSY") else "ON"
        if state == "OFF":
            online.pop(call, None)
        else:
            online[call] = (desc, state, online.get(call, (0, 0, 900001 + len(online)))[2], ip)
        log("LOGIN from %s call=%s password=%s status=%s desc=%r -> %s reply=OK"
            % (ip, call, password.encode("unicode_escape").decode(), status.encode("unicode_escape").decode(),
               desc, state))
        writer.write(b"OK")
    elif body[:1] == b"s":
        reply = b"@@@\n%d\n" % len(online)
        for call, (desc, state, number, address) in online.items():  # libecholib takes 45 bytes before the '['
            reply += ("%s\n%-27s [%s %s]\n%d\n%s\n" % (call, desc[:27], state, time.strftime("%H:%M"), number,
                                                      address)).encode("latin-1")
        writer.write(reply + b"+++")
        log("LIST from %s count=%d calls=%s" % (ip, len(online), ",".join(online)))
    try:
        await writer.drain()
        await asyncio.wait_for(reader.read(1), 3)  # the client closes once it has the answer
    except (asyncio.TimeoutError, ConnectionError):
        pass
    writer.close()


async def main(bind):
    if not bind.startswith("127."):
        sys.exit("fakedir.py: refusing to bind %s, loopback addresses only" % bind)
    server = await asyncio.start_server(handle, bind, 5200)
    log("LISTENING on %s:5200" % bind)
    await server.serve_forever()


if __name__ == "__main__" and sys.argv[1:2] == ["--bind"]:
    asyncio.run(main(sys.argv[2]))
