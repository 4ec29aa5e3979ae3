"""A program run as a child of a test: its output read a line at a time with a deadline, and
stopped within a bounded time (a signal, then SIGKILL after a grace), always reaped, so a test
never waits for ever and never leaves it behind."""

import os
import select
import signal
import subprocess
import time


class Child:
    """`argv` started with its standard output on a pipe (standard error as given)."""

    def __init__(self, argv, stderr=None, **popen):
        self.proc = subprocess.Popen(list(argv), stdout=subprocess.PIPE, stderr=stderr, bufsize=0,
                                     **popen)
        self.pending = b""
        self.ended_by_itself = None

    def readline(self, limit_s=20.0):
        """The next line it printed (the limit only keeps a fault from hanging the test)."""
        deadline = time.monotonic() + limit_s
        while b"\n" not in self.pending:
            left = deadline - time.monotonic()
            ready, _, _ = select.select([self.proc.stdout], [], [], max(left, 0))
            if not ready:
                raise TimeoutError(f"{self.proc.args[0]} printed nothing for {limit_s:g} s")
            chunk = os.read(self.proc.stdout.fileno(), 4096)
            if not chunk:
                raise EOFError(f"{self.proc.args[0]} ended")
            self.pending += chunk
        line, _, self.pending = self.pending.partition(b"\n")
        return line

    def _drain(self, limit_s):
        """Everything it still prints until its output ends (bounded: a grandchild may hold
        the pipe open)."""
        deadline = time.monotonic() + limit_s
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if not ready:
                break
            chunk = os.read(self.proc.stdout.fileno(), 4096)
            if not chunk:
                break
            self.pending += chunk

    def wait(self, limit_s, grace_s=5.0):
        """Waits up to `limit_s` for it to end by itself, then stops it as stop() does;
        returns its exit status (negative: the signal that ended it)."""
        try:
            self.proc.wait(timeout=limit_s)
            self.ended_by_itself = True
        except subprocess.TimeoutExpired:
            return self.stop(signal.SIGTERM, grace_s)
        self._drain(1.0)
        self.proc.stdout.close()
        return self.proc.returncode

    def stop(self, sig=signal.SIGTERM, grace_s=5.0):
        """Sends `sig`, collects what it still prints, and gives it `grace_s` seconds to end;
        then SIGKILL. Always reaps it. Returns its exit status (negative: the signal)."""
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
            self._drain(grace_s)
            try:
                self.proc.wait(timeout=grace_s)
                self.ended_by_itself = True
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=10)
                self.ended_by_itself = False
        elif self.ended_by_itself is None:
            self.ended_by_itself = True
        if not self.proc.stdout.closed:
            self._drain(1.0)
            self.proc.stdout.close()
        return self.proc.returncode

    def rest(self):
        """The lines it printed that readline has not returned."""
        return self.pending.decode(errors="replace").splitlines()
