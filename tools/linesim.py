#!/usr/bin/env python3
"""A line simulator for the benchmark: a TCP proxy on 127.0.0.1 that gives loopback a round-trip time and a bandwidth
per direction shared by all connections, and can cut a download short. One asyncio thread serves every connection.

Usage: linesim.py --listen PORT --target PORT [--listen-host ADDR] [--rtt MS] [--down MBIT] [--up MBIT]
                  [--cut-after BYTES] [--cut-once] [--silent]
       linesim.py --self-check

Each direction is a line with one clock shared by all connections: a chunk's bytes leave when the line is free
(bytes * 8 / rate after the previous chunk, on any connection), then arrive half the round trip later, in order.
A new connection pays one round trip for its handshake before its first request moves. --cut-after closes a
connection after that many bytes (headers included) from the server to the client: the client gets exactly those
bytes and then the end of the connection, the server a reset; --cut-once cuts only the first connection, so a
retry succeeds. --silent accepts every connection and never answers (a host that hangs); --listen-host puts the
line on another loopback address (127.0.0.2, ...), one line per simulated host. Standard library only; it ends when its parent process ends. From Python, LineSim starts it as a
child process (its own interpreter, so the caller's work does not slow the line down) and serve() runs it here.
"""

import argparse
import asyncio
import os
import socket
import struct
import subprocess
import sys
from pathlib import Path

HOST = "127.0.0.1"
CHUNK = 65536         # a read; 2.6 ms of a 200 Mbit/s line, so the shared clock interleaves connections finely
LEAD = 0.02           # a connection reads on while its queued bytes leave within this many seconds (a router queue)
QUEUED_CHUNKS = 256   # at most 16 MiB held per direction of a connection, even on an unlimited line
MAX_CONNECTIONS = 256


class Line:
    """One direction: the time the line is next free, shared by every connection that sends that way."""

    def __init__(self, mbit):
        self.seconds_per_byte = 8 / (mbit * 1e6) if mbit else 0.0
        self.free_at = 0.0

    def reserve(self, size, now):
        """Books size bytes on the line; returns when their last byte has left."""
        self.free_at = max(now, self.free_at) + size * self.seconds_per_byte
        return self.free_at


class Cut(Exception):
    pass


async def sleep_until(loop, when):
    delay = when - loop.time()
    if delay > 0:
        await asyncio.sleep(delay)


async def pump(loop, reader, writer, line, one_way, not_before, cut_after):
    """Moves one direction of a connection: a reader books chunks on the line, a writer delivers each at its time."""
    queue = asyncio.Queue(QUEUED_CHUNKS)

    async def read():
        await sleep_until(loop, not_before)
        while True:
            data = await reader.read(CHUNK)
            if not data:
                await queue.put(None)
                return
            leaves = line.reserve(len(data), loop.time())
            await queue.put((leaves + one_way, data))
            await sleep_until(loop, leaves - LEAD)

    async def write():
        sent = 0
        while True:
            item = await queue.get()
            if item is None:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            due, data = item
            await sleep_until(loop, due)
            if cut_after is not None and sent + len(data) >= cut_after:
                writer.write(data[:cut_after - sent])
                await writer.drain()
                raise Cut()
            writer.write(data)
            sent += len(data)
            await writer.drain()

    reading = asyncio.ensure_future(read())
    try:
        await write()
        await reading
    finally:
        reading.cancel()


class Simulator:
    def __init__(self, target, rtt_ms, down, up, cut_after, cut_once, silent=False):
        self.silent = silent
        self.target, self.one_way, self.rtt = target, rtt_ms / 2000, rtt_ms / 1000
        self.down, self.up = Line(down), Line(up)
        self.cut_after, self.cut_once = cut_after, cut_once
        self.connections = 0
        self.open = 0

    async def handle(self, client_reader, client_writer):
        loop = asyncio.get_running_loop()
        accepted = loop.time()
        self.connections += 1
        cut = self.cut_after if not self.cut_once or self.connections == 1 else None
        if self.open >= MAX_CONNECTIONS:
            client_writer.transport.abort()
            return
        self.open += 1
        server_writer = None
        try:
            if self.silent:
                while await client_reader.read(CHUNK):
                    pass
                client_writer.close()
                return
            server_reader, server_writer = await asyncio.open_connection(HOST, self.target)
            up = pump(loop, client_reader, server_writer, self.up, self.one_way, accepted + self.rtt, None)
            down = pump(loop, server_reader, client_writer, self.down, self.one_way, accepted, cut)
            directions = [asyncio.ensure_future(up), asyncio.ensure_future(down)]
            try:
                done, _ = await asyncio.wait(directions, return_when=asyncio.FIRST_EXCEPTION)
                for direction in done:
                    direction.result()  # raises what ended it early
            finally:
                for direction in directions:
                    direction.cancel()
            for writer in (client_writer, server_writer):
                writer.close()
        except Cut:
            client_writer.close()
            reset(server_writer)
        except (OSError, asyncio.IncompleteReadError):
            reset(client_writer)
            reset(server_writer)
        finally:
            self.open -= 1


def reset(writer):
    """Closes abruptly: a reset rather than an orderly end."""
    if writer is None:
        return
    sock = writer.get_extra_info("socket")
    if sock is not None:
        try:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        except OSError:
            pass
    writer.transport.abort()


async def serve(listen, target, rtt_ms=0, down=None, up=None, cut_after=None, cut_once=False, ready=None,
                listen_host=HOST, silent=False):
    """Runs the proxy until cancelled or until the process that started this one ends."""
    simulator = Simulator(target, rtt_ms, down, up, cut_after, cut_once, silent)
    server = await asyncio.start_server(simulator.handle, listen_host, listen, reuse_address=True, limit=CHUNK)
    if ready:
        ready()
    parent = os.getppid()
    async with server:
        while os.getppid() == parent:
            await asyncio.sleep(0.5)


class LineSim:
    """The simulator as a child process of the caller, listening once the constructor returns; stop() ends it."""

    def __init__(self, listen, target, rtt_ms=0, down=None, up=None, cut_after=None, cut_once=False,
                 listen_host=HOST, silent=False):
        argv = [sys.executable, str(Path(__file__).resolve()), "--listen", str(listen), "--target", str(target),
                "--rtt", str(rtt_ms), "--listen-host", listen_host]
        if silent:
            argv.append("--silent")
        for flag, value in (("--down", down), ("--up", up), ("--cut-after", cut_after)):
            if value is not None:
                argv += [flag, str(value)]
        if cut_once:
            argv.append("--cut-once")
        self.process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
        if self.process.stdout.readline() != b"ready\n":
            self.stop()
            raise RuntimeError(f"the line simulator did not start on {listen_host}:{listen}")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)
        self.process.stdout.close()


async def self_check():
    """Fetches 4 MiB from a server of its own through a 40 ms, 100 Mbit/s line, cut once after 100000 bytes: the
    first fetch must end at exactly that many bytes, the second bring everything in the line's time."""
    loop = asyncio.get_running_loop()
    body = bytes(range(256)) * 16384

    async def send(reader, writer):
        await reader.readexactly(1)
        writer.write(body)
        await writer.drain()
        writer.close()

    async def fetch(port):
        started = loop.time()
        reader, writer = await asyncio.open_connection(HOST, port)
        writer.write(b"?")
        data = await reader.read(-1)
        writer.close()
        return len(data), loop.time() - started

    origin = await asyncio.start_server(send, HOST, 0)
    simulator = Simulator(origin.sockets[0].getsockname()[1], 40, 100, 100, 100000, True)
    line = await asyncio.start_server(simulator.handle, HOST, 0, limit=CHUNK)
    port = line.sockets[0].getsockname()[1]
    (cut, _), (whole, seconds) = await fetch(port), await fetch(port)
    for _ in range(200):  # lets the proxy's side of the connections end before the loop does
        if not simulator.open:
            break
        await asyncio.sleep(0.01)
    expected = len(body) * 8 / 100e6 + 0.08  # the bytes, then handshake, request and answer: two round trips
    print(f"cut connection: {cut} bytes (100000 expected); next: {whole} bytes ({len(body)} expected) in "
          f"{seconds:.3f} s ({expected:.3f} s expected)")
    return cut == 100000 and whole == len(body) and abs(seconds - expected) < 0.1 * expected


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--listen", type=int, help="port for the clients")
    parser.add_argument("--listen-host", default=HOST, help="loopback address for the clients (default 127.0.0.1)")
    parser.add_argument("--silent", action="store_true", help="accept connections and never answer")
    parser.add_argument("--target", type=int, help="port of the server on 127.0.0.1")
    parser.add_argument("--rtt", type=float, default=0, help="round-trip time in ms, half each way")
    parser.add_argument("--down", type=float, help="server-to-client bandwidth in Mbit/s (default: unlimited)")
    parser.add_argument("--up", type=float, help="client-to-server bandwidth in Mbit/s (default: unlimited)")
    parser.add_argument("--cut-after", type=int, help="close a connection after this many bytes to the client")
    parser.add_argument("--cut-once", action="store_true", help="cut only the first connection")
    parser.add_argument("--self-check", action="store_true", help="check the cut and the timing, then exit")
    args = parser.parse_args()
    if args.self_check:
        sys.exit(0 if asyncio.run(self_check()) else 1)
    if args.listen is None or args.target is None:
        parser.error("--listen and --target are needed")
    try:
        asyncio.run(serve(args.listen, args.target, args.rtt, args.down, args.up, args.cut_after, args.cut_once,
                          ready=lambda: print("ready", flush=True), listen_host=args.listen_host,
                          silent=args.silent))
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
