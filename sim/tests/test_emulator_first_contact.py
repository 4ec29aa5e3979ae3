"""What torvane-sim tells a newcomer: why it turns commands down (once a second at most, and
counted by reason), no stray lines at its start, unknown options named as such, its version."""

import signal
import socket
import subprocess
import unittest

from torvane_test_support.sim import SIM, Sim
from torvane_test_support.wire import stamp


def low_command():
    image = bytearray(614)
    image[0:3] = b"\xfe\xef\xff"
    return stamp(image)


class Rejections(unittest.TestCase):
    def test_wrong_level_is_named_counted_and_never_learned(self):
        sim = Sim("high")
        lines = []
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as client:
            for _ in range(40):
                client.sendto(low_command(), ("127.0.0.1", sim.port))
                while True:  # in lockstep and traced: one "reject" line per datagram
                    lines.append(sim.readline().decode())
                    if lines[-1].startswith(("reject", "answer")):
                        break
                self.assertTrue(lines[-1].startswith("reject"), lines[-1])
        sim.child.stop(signal.SIGINT, 10.0)
        self.assertTrue(sim.child.ended_by_itself)
        out = "\n".join(lines) + "\n" + "\n".join(sim.child.rest())
        said = [l for l in out.splitlines() if "rejected 614-byte" in l]
        self.assertGreaterEqual(len(said), 1)
        self.assertLess(len(said), 10, "one line a second at most, not one per datagram")
        self.assertEqual(said[0], "torvane-sim: rejected 614-byte datagram with level flag 0xFF: "
                                  "this emulator is high level")
        self.assertIn("torvane-sim: 0 commands taken, 40 rejected", out)
        self.assertIn("torvane-sim: rejected by reason: wrong level 40, wrong length 0, "
                      "bad header 0, bad checksum 0", out)
        self.assertNotIn("[UDP Connected]", out)  # the sender was never taken for a client


class CommandLine(unittest.TestCase):
    def test_nothing_but_its_own_lines_at_start(self):
        for level in ("low", "high"):
            with self.subTest(level):
                done = subprocess.run([SIM, "--level", level, "--port", "0",
                                       "--duration", "0.1"], capture_output=True, text=True,
                                      timeout=30)
                self.assertEqual(done.returncode, 0)
                self.assertNotIn("End Safety.", done.stdout)

    def test_unknown_option_is_named_so(self):
        for args in (["--level", "low", "--bogus"], ["--bogus", "1", "--level", "low"]):
            with self.subTest(args=args):
                done = subprocess.run([SIM] + args, capture_output=True, text=True, timeout=30)
                self.assertEqual(done.returncode, 2)
                self.assertTrue(done.stderr.startswith("torvane-sim: unknown option: --bogus\n"),
                                done.stderr)
        done = subprocess.run([SIM, "--level", "low", "--port"], capture_output=True, text=True,
                              timeout=30)
        self.assertTrue(done.stderr.startswith("torvane-sim: missing value for: --port"))

    def test_version(self):
        done = subprocess.run([SIM, "--version"], capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, 0)
        self.assertRegex(done.stdout, r"^torvane-sim \d+\.\d+\.\d+\n$")


if __name__ == "__main__":
    unittest.main()
