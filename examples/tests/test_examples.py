"""The four examples (Python and C++) as a newcomer meets them: no emulator, the wrong level, an
emulator killed mid-run, a local port already taken, Ctrl-C, and the happy path. Each failure
must end with one line naming what went wrong and a non-zero exit status."""

import os
import select
import signal
import socket
import struct
import csv
import re
import subprocess
import sys
import tempfile
import threading
import time
import unittest

SOURCE = os.environ.get("TORVANE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
from torvane_test_support.peer import unused_port  # noqa: E402
from torvane_test_support.sim import Sim  # noqa: E402
from torvane_test_support.wire import stamp  # noqa: E402

BIN = os.environ.get("TORVANE_EXAMPLES_BIN", "")
PYTHON = sys.executable

# name: (level, command)
EXAMPLES = {
    "walk_square.py": ("high", [PYTHON, os.path.join(SOURCE, "examples", "python", "walk_square.py")]),
    "stand_up.py": ("low", [PYTHON, os.path.join(SOURCE, "examples", "python", "stand_up.py")]),
    "example_walk_square": ("high", [os.path.join(BIN, "example_walk_square")]),
    "example_stand_up": ("low", [os.path.join(BIN, "example_stand_up")]),
}


def run(name, port, *extra, timeout=60):
    """Runs an example to its end: (exit status, stdout, stderr)."""
    _, command = EXAMPLES[name]
    done = subprocess.run(command + ["--port", str(port), "--local-port", str(unused_port())]
                          + list(extra), capture_output=True, text=True, timeout=timeout)
    return done.returncode, done.stdout, done.stderr


def start(name, port, *extra):
    _, command = EXAMPLES[name]
    return subprocess.Popen(command + ["--port", str(port), "--local-port", str(unused_port())]
                            + list(extra), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True)


def wait_for_link(proc, limit_s=60.0):
    """Reads the example's output up to its "link ... up" line (the limit only keeps a fault
    from hanging the test)."""
    deadline = time.monotonic() + limit_s
    seen = b""
    while True:
        for line in seen.decode(errors="replace").splitlines():
            if " link to " in line and " up;" in line:
                return line
        ready, _, _ = select.select([proc.stdout], [], [], max(deadline - time.monotonic(), 0))
        if not ready:
            raise AssertionError(f"the example printed no link line within {limit_s:g} s")
        chunk = os.read(proc.stdout.fileno(), 4096)
        if not chunk:
            break
        seen += chunk
    raise AssertionError("the example ended before its link was up: " + proc.stderr.read())


def flight_record(test, line, directory):
    """The flight record that an example's one line names, as rows of dictionaries; checks that
    it lies in `directory` and that its cycles come in order."""
    named = re.search(r"; flight record in (\S+\.csv)$", line)
    test.assertIsNotNone(named, line)
    path = named.group(1)
    test.assertEqual(os.path.dirname(path), directory)
    test.assertRegex(os.path.basename(path), r"^flight-(high|low)-\d{8}-\d{6}\.\d{3}(-\d+)?\.csv$")
    with open(path, newline="") as f:
        rows = list(csv.DictReader(f))
    test.assertGreater(len(rows), 0)
    times = [float(r["time_s"]) for r in rows]
    test.assertEqual(times, sorted(times), "cycles in the order they ran")
    return rows


FINAL_CYCLES, LOST_CYCLES = 10, 500  # the safe command's cycles; 1 s at 500 Hz without a state


class Failure(unittest.TestCase):
    def assert_one_line(self, name, status, err, *pieces):
        program = name.removesuffix(".py")
        self.assertEqual(status, 1, err)
        self.assertNotIn("Traceback", err)
        lines = [l for l in err.splitlines() if l.startswith(program + ": ")]
        self.assertEqual(len(lines), 1, err)
        for piece in pieces:
            self.assertIn(piece, lines[0])


class NoRobot(Failure):
    def test_nothing_listening(self):
        for name, (level, _) in EXAMPLES.items():
            with self.subTest(name):
                port = unused_port()
                status, out, err = run(name, port)
                self.assert_one_line(name, status, err, f"{level}-level state from 127.0.0.1:{port}",
                                     "nothing answered",
                                     f"is torvane-sim running with --level {level} --port {port}, "
                                     "and no other client using it?")
                self.assertNotIn("walked the square", out)
                self.assertNotIn("stood up", out)


class WrongLevel(Failure):
    def test_emulator_of_the_other_level(self):
        for name, (level, _) in EXAMPLES.items():
            with self.subTest(name):
                sim = Sim("low" if level == "high" else "high", lockstep=False)
                try:
                    status, out, err = run(name, sim.port)
                finally:
                    sim.stop()
                # Datagrams of the other level fail the checksum, or (with an emulator that
                # answers only valid commands) nothing answers at all.
                self.assert_one_line(name, status, err, f"{level}-level state from 127.0.0.1:{sim.port}",
                                     f"--level {level} --port {sim.port}")


class KilledEmulator(Failure):
    def test_link_lost_mid_run(self):
        for name, (level, _) in EXAMPLES.items():
            with self.subTest(name), tempfile.TemporaryDirectory() as records:
                sim = Sim(level, lockstep=False)
                proc = start(name, sim.port, "--record-dir", records)
                try:
                    wait_for_link(proc)
                    sim.proc.kill()
                    sim.proc.wait(timeout=10)
                    status = proc.wait(timeout=30)
                finally:
                    sim.proc.kill()
                    proc.kill()
                err = proc.stderr.read()
                proc.stdout.close()
                proc.stderr.close()
                sim.proc.stdout.close()
                self.assert_one_line(name, status, err, f"lost the link to 127.0.0.1:{sim.port}",
                                     f"({level} level)", "; flight record in ")
                # The record ends with the second of silence that lost the link, then the safe
                # command's cycles.
                line = [l for l in err.splitlines() if "lost the link" in l][0]
                rows = flight_record(self, line, records)
                self.assertGreaterEqual(len(rows), LOST_CYCLES + FINAL_CYCLES)
                self.assertNotIn("0", [r["recv_result"] for r in rows[-LOST_CYCLES - FINAL_CYCLES:]])
                for row in rows[-FINAL_CYCLES:]:
                    if level == "high":
                        self.assertEqual((row["cmd.mode"], row["cmd.velocity[0]"],
                                          row["cmd.velocity[1]"], row["cmd.yawSpeed"]),
                                         ("1", "0", "0", "0"))
                    else:
                        self.assertEqual((row["cmd.motorCmd[0].Kp"], row["cmd.motorCmd[0].Kd"]),
                                         ("0", "3"))


class TakenPort(Failure):
    def test_refuses_to_run_from_a_taken_port(self):
        for name, (level, command) in EXAMPLES.items():
            with self.subTest(name):
                robot = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                robot.bind(("127.0.0.1", 0))
                holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                holder.bind(("0.0.0.0", 0))
                taken = holder.getsockname()[1]
                try:
                    done = subprocess.run(
                        command + ["--port", str(robot.getsockname()[1]), "--local-port", str(taken)],
                        capture_output=True, text=True, timeout=30)
                    robot.setblocking(False)
                    with self.assertRaises(BlockingIOError):  # not one datagram was sent
                        robot.recv(2000)
                finally:
                    robot.close()
                    holder.close()
                self.assert_one_line(name, done.returncode, done.stderr,
                                     f"local port {taken} is taken", "--local-port")


def high_state():
    image = bytearray(1087)
    image[0:3] = b"\xfe\xef\xee"
    return stamp(image, scramble=True)  # a controller scrambles the high-level checksum


def low_state():
    image = bytearray(807)
    image[0:3] = b"\xfe\xef\xff"
    for slot, q in enumerate([0.0, 0.67, -1.3] * 4):  # standing: no joint near its limit
        struct.pack_into("<Bf", image, 75 + 32 * slot, 10, q)
    return stamp(image)


class Robot:
    """A stand-in for the robot: answers every command with one fixed valid state and keeps
    the last command."""

    def __init__(self, state):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]
        self.state, self.last, self.count = state, b"", 0
        self.going = threading.Event()  # set after 50 commands
        self.done = False
        self.thread = threading.Thread(target=self.serve)
        self.thread.start()

    def serve(self):
        while not self.done:
            try:
                data, sender = self.sock.recvfrom(2000)
            except socket.timeout:
                continue
            self.last, self.count = data, self.count + 1
            if self.count >= 50:
                self.going.set()
            self.sock.sendto(self.state, sender)

    def close(self):
        self.done = True
        self.thread.join()
        self.sock.close()


def tripping_low_state():
    """A low-level state with the FR calf at 0 rad, outside its range on every model."""
    image = bytearray(807)
    image[0:3] = b"\xfe\xef\xff"
    for slot, q in enumerate([0.0, 0.67, 0.0] + [0.0, 0.67, -1.3] * 3):
        struct.pack_into("<Bf", image, 75 + 32 * slot, 10, q)
    return stamp(image)


class GuardTrip(Failure):
    def test_trip_leaves_a_flight_record(self):
        for name in ("stand_up.py", "example_stand_up"):
            with self.subTest(name), tempfile.TemporaryDirectory() as records:
                robot = Robot(tripping_low_state())
                try:
                    status, out, err = run(name, robot.port, "--record-dir", records)
                finally:
                    robot.close()
                self.assert_one_line(name, status, err,
                                     "the safety guard switched the leg motors off at cycle 0",
                                     "; flight record in ")
                line = [l for l in err.splitlines() if "safety guard" in l][0]
                rows = flight_record(self, line, records)
                # The first state (valid), then the damping-only command's cycles.
                self.assertEqual(rows[-FINAL_CYCLES - 1]["recv_result"], "0")
                self.assertEqual(rows[-FINAL_CYCLES - 1]["state.motorState[2].q"], "0")
                for row in rows[-FINAL_CYCLES:]:
                    for slot in range(12):
                        self.assertEqual((row[f"cmd.motorCmd[{slot}].Kp"],
                                          row[f"cmd.motorCmd[{slot}].Kd"]), ("0", "3"))


class Interrupt(unittest.TestCase):
    def interrupt(self, name, state, signum=signal.SIGINT):
        robot = Robot(state)
        proc = start(name, robot.port)
        try:
            self.assertTrue(robot.going.wait(30), "the example sent fewer than 50 commands")
            proc.send_signal(signum)
            status = proc.wait(timeout=30)
        finally:
            proc.kill()
            robot.close()
        out, err = proc.stdout.read(), proc.stderr.read()
        proc.stdout.close()
        proc.stderr.close()
        # It ends by the signal itself, so that a calling shell or script stops too.
        self.assertEqual(status, -signum, err)
        self.assertNotIn("Traceback", err)
        self.assertEqual(len(err.splitlines()), 1, err)
        self.assertIn("interrupted; sent a", err)
        return robot.last

    def test_walk_stands_still_at_the_end(self):
        for name, signum in (("walk_square.py", signal.SIGINT), ("example_walk_square", signal.SIGINT),
                             ("walk_square.py", signal.SIGTERM),
                             ("example_walk_square", signal.SIGTERM)):
            with self.subTest(name, signal=signum.name):
                last = self.interrupt(name, high_state(), signum)
                self.assertEqual(len(last), 129)
                mode, = struct.unpack_from("<B", last, 22)
                vx, vy, yaw_speed = struct.unpack_from("<3f", last, 53)
                self.assertEqual((mode, vx, vy, yaw_speed), (1, 0.0, 0.0, 0.0))

    def test_stand_up_ends_damping_only(self):
        for name in ("stand_up.py", "example_stand_up"):
            with self.subTest(name):
                last = self.interrupt(name, low_state())
                self.assertEqual(len(last), 614)
                for slot in range(12):
                    mode, _, _, tau, kp, kd = struct.unpack_from("<Bffhhh", last, 22 + 27 * slot)
                    self.assertEqual((mode, tau, kp, kd), (10, 0, 0, 3 * 16), f"slot {slot}")


class HappyPath(unittest.TestCase):
    """The stand-ups against a running emulator (the walks' happy path is StartedFirst)."""

    def test_goal_reached_with_exit_status_zero(self):
        for name, (level, _) in EXAMPLES.items():
            if level == "high":
                continue
            with self.subTest(name):
                sim = Sim(level, lockstep=False)
                try:
                    status, out, err = run(name, sim.port)
                finally:
                    sim.stop()
                self.assertEqual(status, 0, err)
                self.assertIn("stood up", out)
                self.assertIn("receive outcomes: ", out)
                self.assertNotRegex(out, r"receive outcomes:.*\[-?\d\]")  # words, not codes


class StartedFirst(unittest.TestCase):
    """Started before the emulator, a walk times nothing until the first valid state, and its
    corners land where they belong."""

    def test_walk_started_before_the_emulator(self):
        for name in ("walk_square.py", "example_walk_square"):
            with self.subTest(name):
                placeholder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                placeholder.bind(("127.0.0.1", 0))
                placeholder.settimeout(30)
                port = placeholder.getsockname()[1]
                proc = start(name, port, "--side", "0.2", "--wait", "60")
                try:
                    placeholder.recv(2000)  # the walk is running and waiting: no answer yet
                    placeholder.close()
                    sim = subprocess.Popen([os.environ.get("TORVANE_SIM", "torvane-sim"), "--level",
                                            "high", "--port", str(port), "--duration", "120"],
                                           stdout=subprocess.DEVNULL)
                    try:
                        status = proc.wait(timeout=120)
                    finally:
                        sim.send_signal(signal.SIGINT)
                        sim.wait(timeout=30)
                finally:
                    placeholder.close()
                    proc.kill()
                out, err = proc.stdout.read(), proc.stderr.read()
                proc.stdout.close()
                proc.stderr.close()
                self.assertEqual(status, 0, out + err)
                self.assertRegex(out, r"corner 1: x=\+0\.[12]\d m  y=[+-]0\.0\d m")
                self.assertRegex(out, r"receive outcomes: (valid|nothing new)")
                self.assertNotRegex(out, r"receive outcomes:.*\[-?\d\]")  # words, not codes


class CommandLine(unittest.TestCase):
    def test_help_and_bad_arguments(self):
        for name, (_, command) in EXAMPLES.items():
            with self.subTest(name):
                done = subprocess.run(command + ["--help"], capture_output=True, text=True,
                                      timeout=30)
                self.assertEqual(done.returncode, 0)
                self.assertIn("usage:", done.stdout)
                self.assertIn("--local-port", done.stdout)
                for bad in (["--bogus", "1"], ["--port", "0"], ["--port", "70000"], ["--port"],
                            ["--wait", "0"], ["--wait", "soon"], ["--robot", "localhost"],
                            ["--record-dir", "/nonexistent"], ["--record-dir", os.devnull]):
                    done = subprocess.run(command + bad, capture_output=True, text=True, timeout=30)
                    self.assertEqual(done.returncode, 2, f"{bad}: {done.stderr}")
                    self.assertIn("usage:", done.stderr)
                    self.assertEqual(done.stdout, "", "nothing may start on a bad command line")


if __name__ == "__main__":
    unittest.main()
