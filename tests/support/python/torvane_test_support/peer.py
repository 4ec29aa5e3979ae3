"""A plain-socket peer on 127.0.0.1: the robot's (or the client's) side of a link."""

import socket


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


def unused_port() -> int:
    """A port that was free a moment ago, for the endpoints and programs that must be told a
    fixed local port (the module's endpoints cannot say which port they were given). Anything
    that can bind port 0 and say which port it got (torvane-sim --port 0) does that instead."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]
