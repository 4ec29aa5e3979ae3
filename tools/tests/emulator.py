"""torvane-sim in lockstep with --trace, and a plain-socket client of it, for tests that take
captures: each command is answered (or dropped) before the next is sent, so a capture holds the
same datagrams on every run."""

import os
import select
import socket
import struct
import subprocess

SIM = os.environ.get("TORVANE_SIM", "torvane-sim")


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def crc(data, words):
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


def command(level, serial):
    """A command datagram of `level` ("high": 129 bytes, "low": 614) with SN `serial`."""
    length, flag = (129, 0xEE) if level == "high" else (614, 0xFF)
    image = bytearray(length)
    image[0:3] = bytes([0xFE, 0xEF, flag])
    struct.pack_into("<I", image, 4, serial)
    if level == "high":
        image[22] = 1  # stand
    else:
        for slot in range(20):  # every motor: mode 10, no targets held
            struct.pack_into("<Bff", image, 22 + 27 * slot, 10, 2146000000.0, 16000.0)
    struct.pack_into("<I", image, length - 4, crc(bytes(image), (length >> 2) - 1))
    return bytes(image)


class Sim:
    """torvane-sim as a child process; answer() reads its account of each command."""

    def __init__(self, *args):
        self.port = free_port()
        argv = [SIM, "--port", str(self.port), "--duration", "120"] + list(args)
        self.proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     bufsize=0)
        self.pending = b""
        while True:
            line = self.readline()
            if b"level on" in line or b"replay of" in line:
                break

    def readline(self, limit_s=20.0):
        """The next line it printed (the limit only keeps a fault from hanging the test)."""
        while b"\n" not in self.pending:
            ready, _, _ = select.select([self.proc.stdout], [], [], limit_s)
            if not ready:
                raise TimeoutError("torvane-sim printed nothing")
            chunk = os.read(self.proc.stdout.fileno(), 4096)
            if not chunk:
                raise EOFError("torvane-sim ended: " + self.proc.stderr.read().decode())
            self.pending += chunk
        line, _, self.pending = self.pending.partition(b"\n")
        return line

    def answer(self):
        while True:
            words = self.readline().decode().split()
            if words and words[0] in ("answer", "reject"):
                return words[2] if words[0] == "answer" else "reject"

    def stop(self):
        """Stops it (the capture is complete once it has ended); returns its tally lines."""
        if self.proc.poll() is None:
            self.proc.send_signal(2)
        out = self.pending + self.proc.stdout.read()
        self.proc.wait(timeout=20)
        self.proc.stderr.close()
        self.proc.stdout.close()
        return [l for l in out.decode().splitlines() if l.startswith("torvane-sim:")]


def take_capture(path, level, commands, *faults):
    """Runs `commands` lockstep cycles against a fresh emulator writing `path`; returns the
    emulator's port and the kinds of answer it reported."""
    sim = Sim("--level", level, "--lockstep", "--trace", "--pcap", path, *faults)
    kinds = []
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as client:
        client.bind(("127.0.0.1", 0))
        for serial in range(commands):
            client.sendto(command(level, serial), ("127.0.0.1", sim.port))
            kinds.append(sim.answer())
    sim.stop()
    return sim.port, kinds
