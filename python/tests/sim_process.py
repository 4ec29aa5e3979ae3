"""torvane-sim as a child process, for the module's, the examples' and the tools' tests. In
lockstep with --trace it prints one line per answered command, so a test knows what was sent
before it calls Recv, without sleeping."""

import os
import select
import subprocess

from wire_helpers import free_port

SIM = os.environ.get("TORVANE_SIM", "torvane-sim")


class SimProcess:
    """torvane-sim with the arguments given, on a free port; ready once it has said where it
    listens (or what it replays)."""

    def __init__(self, *args):
        self.port = free_port()
        argv = [SIM, "--port", str(self.port), "--duration", "300"] + list(args)
        self.proc = subprocess.Popen(argv, stdout=subprocess.PIPE, bufsize=0)
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
                raise EOFError("torvane-sim ended")
            self.pending += chunk
        line, _, self.pending = self.pending.partition(b"\n")
        return line

    def answer(self):
        """What the emulator did with the last command: ok, drop, crc, header, truncate,
        duplicate; or reject."""
        while True:
            words = self.readline().decode().split()
            if words and words[0] in ("answer", "reject"):
                return words[2] if words[0] == "answer" else "reject"

    def stop(self):
        """Stops it (a capture is complete once it has ended); returns the lines it printed
        after the trace."""
        if self.proc.poll() is None:
            self.proc.send_signal(2)
        out = self.pending + self.proc.stdout.read()
        self.proc.wait(timeout=20)
        self.proc.stdout.close()
        return [l for l in out.decode().splitlines() if l.startswith("torvane-sim:")]


class Sim(SimProcess):
    """torvane-sim at `level`, in lockstep with --trace unless told otherwise."""

    def __init__(self, level, *extra, lockstep=True):
        args = ["--level", level] + (["--lockstep", "--trace"] if lockstep else [])
        super().__init__(*args, *extra)
