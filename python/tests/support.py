"""Shared helpers of the module tests: an independent checksum, datagram images (from
wire_helpers), a plain-socket peer on 127.0.0.1 and capture of what the SDK writes to the
process's own standard output."""

import contextlib
import os
import socket
import tempfile

import robot_interface as ri
from wire_helpers import crc, free_port, scrambled, stamp  # noqa: F401 (the tests take them here)


class Peer:
    """The robot's side of the link, with plain sockets."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(5.0)
        self.port = self.sock.getsockname()[1]
        self.client = None

    def receive(self) -> bytes:
        data, self.client = self.sock.recvfrom(70000)
        return data

    def send(self, data: bytes, port: int = None):
        self.sock.sendto(data, ("127.0.0.1", port) if port else self.client)

    def close(self):
        self.sock.close()


@contextlib.contextmanager
def sdk_output():
    """Collects what the SDK prints on file descriptor 1 while the block runs."""
    result = []
    with tempfile.TemporaryFile() as tmp:
        saved = os.dup(1)
        os.dup2(tmp.fileno(), 1)
        try:
            yield result
        finally:
            os.dup2(saved, 1)
            os.close(saved)
            tmp.seek(0)
            result.append(tmp.read().decode())


def endpoint(peer, level):
    """A level-flag client of `peer` on a fixed local port: (endpoint, port)."""
    port = free_port()
    with sdk_output():
        udp = ri.UDP(level, port, "127.0.0.1", peer.port)
    return udp, port


def recv_published(udp, attempts=1000):
    """Recv until a datagram is published (loopback delivers within the sender's call; the
    bound only keeps a fault from hanging the test)."""
    for _ in range(attempts):
        result = udp.Recv()
        if result != -1:
            return result
    return -1
