"""A delaying FTP proxy on loopback, standing in for a wide-area link (this kernel has no netem).

Every byte, on the control connection and on each data connection, reaches the other side one
way's delay (RTT/2) after it arrived here, in order. The data connections are proxied too: the
addresses of 227/229 replies and of PORT/EPRT commands are rewritten to listeners of the proxy.
A connection's opener sees its connect succeed at once on loopback, so its first bytes are held
until the handshake would have ended (1.5 RTT after it opened: SYN, SYN-ACK, then the bytes).
Bytes in flight per direction are bounded by a window (WINDOW_KIB), as a TCP window would bound
them over a real path; the proxy stops reading while the window is full.

Per finished control connection one line goes to the statistics file:
    "<commands> <turns> <data connections>"
where a turn is a burst of commands the client sent after a reply reached it (a round trip the
client waited for).
    usage: delay_proxy.py --server-port P --rtt-ms MS [--stats FILE]   (prints "listening PORT")
"""
import argparse
import asyncio
import collections
import re
import socket
import sys

WINDOW_KIB = 4096


class Pipe(asyncio.Protocol):
    """One TCP connection of the proxy; what it reads is delayed and written to its peer."""

    def __init__(self, link, delay, hold_until=0.0, on_data=None):
        self.link = link            # the Link it belongs to
        self.delay = delay
        self.hold_until = hold_until  # loop time before which nothing read is delivered
        self.on_data = on_data      # control side: turns bytes into the bytes to forward
        self.transport = None
        self.peer = None            # the Pipe that writes what this one reads
        self.queue = collections.deque()  # (due time, bytes, end of stream)
        self.queued = 0
        self.timer = None
        self.early = []             # read before the peer exists
        self.window = WINDOW_KIB * 1024

    def connection_made(self, transport):
        self.transport = transport
        transport.get_extra_info("socket").setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def data_received(self, data):
        if self.on_data:
            data = self.on_data(data)
            if not data:
                return
        self.push(data, False)

    def eof_received(self):
        self.push(b"", True)
        return True

    def connection_lost(self, exc):
        if exc is not None:
            self.link.close()

    def push(self, data, eof):
        loop = asyncio.get_running_loop()
        due = max(loop.time() + self.delay, self.hold_until)
        self.queue.append((due, data, eof))
        self.queued += len(data)
        if self.queued > self.window:
            self.transport.pause_reading()
        self.schedule()

    def schedule(self):
        if self.timer is None and self.queue and self.peer is not None and self.peer.transport is not None:
            loop = asyncio.get_running_loop()
            self.timer = loop.call_at(self.queue[0][0], self.deliver)

    def deliver(self):
        self.timer = None
        loop = asyncio.get_running_loop()
        now = loop.time()
        out = []
        eof = False
        while self.queue and self.queue[0][0] <= now:
            _, data, end = self.queue.popleft()
            self.queued -= len(data)
            out.append(data)
            eof = eof or end
        if out and self.peer.transport and not self.peer.transport.is_closing():
            self.peer.transport.write(b"".join(out))
            if eof:
                if self.peer.transport.can_write_eof():
                    self.peer.transport.write_eof()
                self.link.ended()
        if self.queued <= self.window and self.transport and not self.transport.is_closing():
            try:
                self.transport.resume_reading()
            except RuntimeError:
                pass
        self.schedule()


class Link:
    """Two Pipes, each the other's peer: closes both when either fails or both ended."""

    def __init__(self):
        self.pipes = []
        self.ends = 0

    def ended(self):
        self.ends += 1
        if self.ends >= 2:
            self.close()

    def close(self):
        for p in self.pipes:
            if p.transport and not p.transport.is_closing():
                p.transport.close()


class Proxy:
    def __init__(self, server_port, rtt_ms, stats):
        self.server_port = server_port
        self.delay = rtt_ms / 2000.0
        self.stats = stats

    def hold(self):
        return asyncio.get_running_loop().time() + 3 * self.delay

    def listen_once(self, target_port, session):
        """A listener for one data connection to 127.0.0.1:target_port; returns its port."""
        sock = socket.socket()
        sock.bind(("127.0.0.1", 0))
        sock.listen(1)
        sock.setblocking(False)
        session.listeners.append(sock)
        asyncio.get_running_loop().create_task(self.accept_data(sock, target_port, session))
        return sock.getsockname()[1]

    async def accept_data(self, sock, target_port, session):
        loop = asyncio.get_running_loop()
        try:
            conn, _ = await loop.sock_accept(sock)
        except OSError:
            return
        finally:
            sock.close()
        session.data += 1
        await self.splice(conn, target_port)

    async def splice(self, conn, target_port, on_a=None, on_b=None):
        """Joins an accepted socket to a new connection to target_port, both ways delayed."""
        loop = asyncio.get_running_loop()
        link = Link()
        a = Pipe(link, self.delay, self.hold(), on_a)
        b = Pipe(link, self.delay, 0.0, on_b)
        a.peer, b.peer = b, a
        link.pipes = [a, b]
        conn.setblocking(False)
        await loop.connect_accepted_socket(lambda: a, conn)
        await asyncio.sleep(self.delay)  # the SYN on its way
        try:
            await loop.create_connection(lambda: b, "127.0.0.1", target_port)
        except OSError:
            link.close()
            return None
        a.schedule()
        b.schedule()
        return link

    async def control(self, conn):
        session = Session(self)
        link = await self.splice(conn, self.server_port, session.from_client, session.from_server)
        if link is None:
            return
        # Finished: both transports closed.
        while any(p.transport and not p.transport.is_closing() for p in link.pipes):
            await asyncio.sleep(0.05)
        session.done()


class Session:
    """The FTP control dialogue of one connection: rewrites data addresses, counts turns."""

    PASV = re.compile(rb"^227 .*?(\d+),(\d+),(\d+),(\d+),(\d+),(\d+)")
    EPSV = re.compile(rb"^229 .*\(\|\|\|(\d+)\|\)")
    PORT = re.compile(rb"^PORT (\d+),(\d+),(\d+),(\d+),(\d+),(\d+)", re.I)
    EPRT = re.compile(rb"^EPRT \|1\|([0-9.]+)\|(\d+)\|", re.I)

    def __init__(self, proxy):
        self.proxy = proxy
        self.listeners = []
        self.commands = 0
        self.turns = 0
        self.data = 0
        self.last_command = -1.0  # loop time of the client's last command
        self.deliveries = collections.deque()  # loop times replies reach the client
        self.cbuf = b""
        self.sbuf = b""
        self.written = False

    @staticmethod
    def lines(buf, data):
        buf += data
        cut = buf.rfind(b"\n") + 1
        return buf[cut:], buf[:cut].splitlines(keepends=True)

    def from_client(self, data):
        self.cbuf, lines = self.lines(self.cbuf, data)
        out = []
        now = asyncio.get_running_loop().time()
        waited = False
        while self.deliveries and self.deliveries[0] <= now:
            waited = self.deliveries.popleft() > self.last_command or waited
        if waited and lines:
            self.turns += 1
        for line in lines:
            self.commands += 1
            self.last_command = now
            m = self.PORT.match(line)
            if m:
                port = int(m.group(5)) * 256 + int(m.group(6))
                mine = self.proxy.listen_once(port, self)
                line = b"PORT 127,0,0,1,%d,%d\r\n" % (mine // 256, mine % 256)
            m = self.EPRT.match(line)
            if m:
                mine = self.proxy.listen_once(int(m.group(2)), self)
                line = b"EPRT |1|127.0.0.1|%d|\r\n" % mine
            out.append(line)
        return b"".join(out)

    def from_server(self, data):
        self.sbuf, lines = self.lines(self.sbuf, data)
        out = []
        for line in lines:
            if len(line) > 3 and line[:3].isdigit() and line[3:4] == b" ":
                # the last line of a reply: the client can act on it once it arrives
                self.deliveries.append(asyncio.get_running_loop().time() + self.proxy.delay)
            m = self.PASV.match(line)
            if m:
                port = int(m.group(5)) * 256 + int(m.group(6))
                mine = self.proxy.listen_once(port, self)
                line = b"227 Entering Passive Mode (127,0,0,1,%d,%d).\r\n" % (mine // 256, mine % 256)
            m = self.EPSV.match(line)
            if m:
                mine = self.proxy.listen_once(int(m.group(1)), self)
                line = b"229 Entering Extended Passive Mode (|||%d|)\r\n" % mine
            out.append(line)
        return b"".join(out)

    def done(self):
        if self.written:
            return
        self.written = True
        for s in self.listeners:
            s.close()
        if self.proxy.stats:
            with open(self.proxy.stats, "a") as f:
                f.write("%d %d %d\n" % (self.commands, self.turns, self.data))


async def main():
    p = argparse.ArgumentParser()
    p.add_argument("--server-port", type=int, required=True)
    p.add_argument("--rtt-ms", type=float, default=0)
    p.add_argument("--stats")
    args = p.parse_args()
    proxy = Proxy(args.server_port, args.rtt_ms, args.stats)
    loop = asyncio.get_running_loop()
    sock = socket.socket()
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("127.0.0.1", 0))
    sock.listen(128)
    sock.setblocking(False)
    print("listening %d" % sock.getsockname()[1], flush=True)
    while True:
        conn, _ = await loop.sock_accept(sock)
        loop.create_task(proxy.control(conn))


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
