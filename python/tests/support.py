"""Shared helpers of the module tests: an independent checksum, datagram images, a plain-socket
peer on 127.0.0.1 and capture of what the SDK writes to the process's own standard output."""

import contextlib
import os
import socket
import struct
import tempfile

import robot_interface as ri


def crc(data: bytes, words: int) -> int:
    """The packet checksum, bit by bit: MSB-first CRC-32 over little-endian 32-bit words."""
    value = 0xFFFFFFFF
    for k in range(words):
        (w,) = struct.unpack_from("<I", data, 4 * k)
        for b in range(31, -1, -1):
            top = value >> 31
            value = (value << 1) & 0xFFFFFFFF
            if top != (w >> b) & 1:
                value ^= 0x04C11DB7
    return value


def scrambled(value: int) -> int:
    masked = value ^ 0x5B3D7E91
    return ((masked >> 8) | (masked << 24)) & 0xFFFFFFFF


def stamp(image: bytearray, scramble: bool = False) -> bytes:
    """Puts the checksum of the coverage rule into the last four bytes."""
    value = crc(bytes(image), (len(image) >> 2) - 1)
    struct.pack_into("<I", image, len(image) - 4, scrambled(value) if scramble else value)
    return bytes(image)


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


def free_port() -> int:
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


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
