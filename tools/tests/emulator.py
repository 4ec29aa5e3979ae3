"""torvane-sim in lockstep with --trace (the tests' shared child process), and a plain-socket
client of it, for tests that take captures: each command is answered (or dropped) before the
next is sent, so a capture holds the same datagrams on every run."""

import socket
import struct

from sim_process import SimProcess as Sim  # noqa: F401 (the capture tests take it here)
from wire_helpers import free_port, stamp  # noqa: F401


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
    return stamp(image)


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
