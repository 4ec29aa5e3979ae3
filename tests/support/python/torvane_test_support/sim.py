"""torvane-sim as a child process. On --port 0 it binds a free port and says which on the line
that says where it listens; in lockstep with --trace it prints one line per answered command,
so a test knows what was sent before it calls Recv, without sleeping."""

import os
import re
import signal

from torvane_test_support.child import Child

SIM = os.environ.get("TORVANE_SIM", "torvane-sim")

_LISTENING = re.compile(rb", on [0-9.]+:(\d+)$| level on [0-9.]+:(\d+),")


def listening_port(line: bytes) -> int:
    """The port in the line torvane-sim prints when it listens (or starts a replay); 0 if the
    line is not that line."""
    m = _LISTENING.search(line)
    return int(m.group(1) or m.group(2)) if m else 0


class SimProcess:
    """torvane-sim with the arguments given, on a free port of its own choosing (or `port`);
    ready once it has said where it listens (or what it replays)."""

    def __init__(self, *args, port=0):
        argv = [SIM, "--port", str(port), "--duration", "300"] + list(args)
        self.child = Child(argv)
        self.proc = self.child.proc
        while True:
            line = self.readline()
            if b"level on" in line or b"replay of" in line:
                self.port = listening_port(line)
                break

    def readline(self, limit_s=20.0):
        """The next line it printed (the limit only keeps a fault from hanging the test)."""
        return self.child.readline(limit_s)

    def answer(self):
        """What the emulator did with the last command: ok, drop, crc, header, truncate,
        duplicate; or reject."""
        while True:
            words = self.readline().decode().split()
            if words and words[0] in ("answer", "reject"):
                return words[2] if words[0] == "answer" else "reject"

    def wait(self, limit_s):
        """Waits up to `limit_s` for it to end by itself (then stops it); its exit status."""
        return self.child.wait(limit_s)

    def stop(self):
        """Stops it (SIGINT, SIGKILL 20 s later; a capture is complete once it has ended);
        returns the lines it printed after the trace."""
        self.child.stop(signal.SIGINT, 20.0)
        return [l for l in self.child.rest() if l.startswith("torvane-sim:")]


class Sim(SimProcess):
    """torvane-sim at `level`, in lockstep with --trace unless told otherwise."""

    def __init__(self, level, *extra, lockstep=True):
        args = ["--level", level] + (["--lockstep", "--trace"] if lockstep else [])
        super().__init__(*args, *extra)
