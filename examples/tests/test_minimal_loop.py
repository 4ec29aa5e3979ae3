"""The minimal loops, Python and C++, as the README quotes them: against torvane-sim (a child on
a port of its own, stopped within a bounded time) each stands still for two seconds, prints one
line and exits 0; with nothing listening it says so in one line and exits 1; a bad port is
refused with 2."""

import os
import select
import signal
import socket
import subprocess
import sys
import time
import unittest

SOURCE = os.environ.get("TORVANE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
SIM = os.environ.get("TORVANE_SIM", "torvane-sim")
LOOPS = {
    "minimal_loop.py": [sys.executable,
                        os.path.join(SOURCE, "examples", "python", "minimal_loop.py")],
    "example_minimal_loop": [os.path.join(os.environ.get("TORVANE_EXAMPLES_BIN", ""),
                                          "example_minimal_loop")],
}


def unused_port():
    """A port nothing listened on a moment ago; the emulator's start is retried if it is taken."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def stop(proc):
    """SIGTERM, then SIGKILL after 5 s; always reaped."""
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
    try:
        proc.communicate(timeout=5)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()


class Emulator:
    """torvane-sim at the high level, ready once it has said where it listens."""

    def __init__(self):
        for _ in range(5):
            self.port = unused_port()
            self.proc = subprocess.Popen([SIM, "--level", "high", "--port", str(self.port),
                                          "--duration", "120"], stdout=subprocess.PIPE,
                                         stderr=subprocess.DEVNULL, bufsize=0)
            said = self.read_until(b"level on", time.monotonic() + 20)
            if b"level on" in said:
                return
            stop(self.proc)  # the port was taken in between, or the start failed
        raise AssertionError("torvane-sim did not start: " + said.decode(errors="replace"))

    def read_until(self, words, deadline):
        """What it printed until `words`, its end or the deadline, whichever comes first."""
        said = b""
        while words not in said and time.monotonic() < deadline:
            ready, _, _ = select.select([self.proc.stdout], [], [], deadline - time.monotonic())
            chunk = os.read(self.proc.stdout.fileno(), 4096) if ready else b""
            if not chunk:
                break
            said += chunk
        return said


def run(name, *args):
    """(exit status, stdout, stderr) of one minimal loop, ended within 30 s in any case."""
    done = subprocess.run(LOOPS[name] + list(args), capture_output=True, text=True, timeout=30)
    return done.returncode, done.stdout, done.stderr


class MinimalLoop(unittest.TestCase):
    def test_stands_still_and_prints_the_state(self):
        for name in LOOPS:
            # An emulator of its own: a client just gone holds the emulator for a second.
            sim = Emulator()
            try:
                with self.subTest(name):
                    status, out, err = run(name, str(sim.port))
                    self.assertEqual(status, 0, err)
                    lines = [l for l in out.splitlines() if l.startswith("minimal_loop: ")]
                    self.assertEqual(len(lines), 1, out)
                    self.assertRegex(lines[0], r"^minimal_loop: \d+ states; body at"
                                               r" x -?\d+\.\d{3} m, y -?\d+\.\d{3} m,"
                                               r" height -?\d+\.\d{3} m, yaw -?\d+\.\d{3} rad$")
            finally:
                stop(sim.proc)

    def test_says_so_when_no_state_arrives(self):
        port = unused_port()
        for name in LOOPS:
            with self.subTest(name):
                status, out, err = run(name, str(port))
                self.assertEqual(status, 1, out + err)
                self.assertIn(f"minimal_loop: no valid high-level state from 127.0.0.1:{port}\n",
                              err)
                self.assertNotIn("Traceback", err)
                self.assertNotIn("states;", out)

    def test_refuses_a_bad_port(self):
        for name in LOOPS:
            for port in ("0", "65536", "+8082", " 8082", "-1", "80a", "", "\u00b2"):
                with self.subTest(name, port=port):
                    status, out, err = run(name, port)
                    self.assertEqual(status, 2, out + err)
                    self.assertEqual(err, f"minimal_loop: not a port (1..65535): {port}\n")

    def test_refuses_a_bad_address_and_extra_arguments(self):
        for name in LOOPS:
            for args, line in ((["8082", "localhost"], "minimal_loop: not an IPv4 address: "),
                               (["8082", "127.0.0.256"], "minimal_loop: not an IPv4 address: "),
                               (["8082", "127.0.0.1", "x"], "usage: minimal_loop")):
                with self.subTest(name, args=args):
                    status, out, err = run(name, *args)
                    self.assertEqual(status, 2, out + err)
                    self.assertTrue(err.startswith(line), err)
                    if "address" in line:
                        self.assertEqual(err, line + args[1] + "\n")
                    self.assertEqual(err.count("\n"), 1, err)

    def test_readme_quotes_the_loops_as_they_are(self):
        # Every line of the README's two quoted loops stands in its file, as written.
        with open(os.path.join(SOURCE, "README.md")) as f:
            readme = f.read()
        section = readme[readme.index("## A minimal loop"):]
        for language, source in (("python", "minimal_loop.py"), ("cpp", "minimal_loop.cpp")):
            with self.subTest(source):
                quote = section[section.index(f"```{language}\n") + len(language) + 4:]
                quote = quote[:quote.index("```")]
                folder = "python" if language == "python" else "cpp"
                with open(os.path.join(SOURCE, "examples", folder, source)) as f:
                    lines = {line.strip() for line in f}
                for line in quote.splitlines():
                    if line.strip():
                        self.assertIn(line.strip(), lines)
                self.assertIn("PeriodicLoop", quote)
                self.assertNotIn("sleep", quote.replace("sleeps until", ""))


if __name__ == "__main__":
    unittest.main()
