#!/usr/bin/env python3
"""A relay that makes a server seem far away: everything it passes on, in
either direction, arrives a fixed delay later, in order, as over a long link.

Usage: delay_relay.py LISTEN_ADDRESS SERVER_ADDRESS DELAY_MS PORT...
Relays TCP on every port, and UDP too (Kerberos asks over UDP first). Prints
"ready" once it listens, and runs until it is ended.
"""

import asyncio
import sys
import time


class DelayedPipe:
    """Writes what it is given to `writer`, each piece `delay` seconds after it
    was received."""

    def __init__(self, writer, delay):
        self.writer = writer
        self.delay = delay
        self.queue = asyncio.Queue()
        self.task = asyncio.ensure_future(self.run())

    def put(self, data):
        self.queue.put_nowait((time.monotonic() + self.delay, data))

    async def run(self):
        while True:
            due, data = await self.queue.get()
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            if data is None:
                self.writer.close()
                return
            self.writer.write(data)
            await self.writer.drain()


async def pump(reader, pipe):
    try:
        while data := await reader.read(65536):
            pipe.put(data)
    except ConnectionError:
        pass
    pipe.put(None)


async def relay_tcp(server, port, delay, client_reader, client_writer):
    try:
        server_reader, server_writer = await asyncio.open_connection(server, port)
    except OSError:
        client_writer.close()
        return
    to_server = DelayedPipe(server_writer, delay)
    to_client = DelayedPipe(client_writer, delay)
    await asyncio.gather(pump(client_reader, to_server), pump(server_reader, to_client))
    await asyncio.gather(to_server.task, to_client.task, return_exceptions=True)


class UdpRelay(asyncio.DatagramProtocol):
    def __init__(self, server, port, delay):
        self.server, self.port, self.delay = server, port, delay

    def connection_made(self, transport):
        self.transport = transport

    def datagram_received(self, data, client):
        loop = asyncio.get_running_loop()
        relay = self

        class Upstream(asyncio.DatagramProtocol):
            def connection_made(self, transport):
                self.transport = transport
                loop.call_later(relay.delay, transport.sendto, data)

            def datagram_received(self, answer, _):
                loop.call_later(relay.delay, relay.transport.sendto, answer, client)
                self.transport.close()

        loop.create_task(loop.create_datagram_endpoint(Upstream, remote_addr=(self.server, self.port)))


async def main():
    listen, server, delay_ms, *ports = sys.argv[1:]
    delay = float(delay_ms) / 1000
    loop = asyncio.get_running_loop()
    for port in map(int, ports):
        await asyncio.start_server(
            lambda r, w, port=port: relay_tcp(server, port, delay, r, w), listen, port)
        await loop.create_datagram_endpoint(
            lambda port=port: UdpRelay(server, port, delay), local_addr=(listen, port))
    print("ready", flush=True)
    await asyncio.Event().wait()


if __name__ == "__main__":
    if len(sys.argv) < 5:
        raise SystemExit(__doc__)
    asyncio.run(main())
