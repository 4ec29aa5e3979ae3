"""Shared helpers of the module tests: the shared test support (independent checksum, datagram
images, a plain-socket peer on 127.0.0.1, capture of what the SDK writes to the process's own
standard output), and endpoints of the module on loopback."""

import robot_interface as ri
from torvane_test_support.output import sdk_output
from torvane_test_support.peer import Peer, unused_port
from torvane_test_support.wire import crc, scrambled, stamp  # noqa: F401 (the tests take them here)

__all__ = ["Peer", "crc", "endpoint", "recv_published", "scrambled", "sdk_output", "stamp",
           "unused_port"]


def endpoint(peer, level):
    """A level-flag client of `peer` on a fixed local port: (endpoint, port)."""
    port = unused_port()
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
