"""torvane-sim as a child process in lockstep with --trace: one line per answered command, so a
test knows what was sent before it calls Recv, without sleeping."""

import os
import select
import subprocess

from support import free_port

SIM = os.environ.get("TORVANE_SIM", "torvane-sim")


class Sim:
    def __init__(self, level, *extra, lockstep=True):
        self.port = free_port()
        args = [SIM, "--level", level, "--port", str(self.port), "--duration", "300"]
        if lockstep:
            args += ["--lockstep", "--trace"]
        self.proc = subprocess.Popen(args + list(extra), stdout=subprocess.PIPE, bufsize=0)
        self.pending = b""
        while b"level on" not in self.readline():
            pass

    def readline(self, limit_s=10.0):
        """The next line the emulator printed (the limit only keeps a fault from hanging)."""
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
        """Stops the emulator; returns the lines it printed after the trace."""
        self.proc.send_signal(2)
        out = self.pending + self.proc.stdout.read()
        self.proc.wait(timeout=10)
        return [l for l in out.decode().splitlines() if l.startswith("torvane-sim:")]
