"""Captures taken in lockstep against a fresh emulator: each command is answered (or dropped)
before the next is sent, so a capture holds the same datagrams on every run."""

import socket

from torvane_test_support.sim import SimProcess
from torvane_test_support.wire import command


def take_capture(path, level, commands, *faults):
    """Runs `commands` lockstep cycles against a fresh emulator writing `path`; returns the
    emulator's port and the kinds of answer it reported."""
    sim = SimProcess("--level", level, "--lockstep", "--trace", "--pcap", path, *faults)
    kinds = []
    try:
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as client:
            client.bind(("127.0.0.1", 0))
            for serial in range(commands):
                client.sendto(command(level, serial), ("127.0.0.1", sim.port))
                kinds.append(sim.answer())
    finally:
        sim.stop()
    return sim.port, kinds
