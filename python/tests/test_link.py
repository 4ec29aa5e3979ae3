"""torvane_link beside robot_interface: the link monitor fed from a real endpoint, the periodic
loop (order, overruns, Ctrl-C in its sleep), the flight recorders taking robot_interface's
records and writing CSV, and the stubs against the live module (and mypy --strict over them)."""

import ast
import os
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

import robot_interface as ri
import torvane_link as tl
from support import Peer, sdk_output, stamp
from thread_watch import count_while, interrupt_main, when_waiting

SOURCE = os.environ.get("TORVANE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
MYPY = os.environ.get("TORVANE_MYPY", "")
STUB = os.path.join(os.path.dirname(tl.__file__), "torvane_link.pyi")


def state_image(seed: int) -> bytes:
    image = bytearray((seed * 31 + 7 * i) & 0xFF for i in range(1087))
    image[0:3] = b"\xfe\xef\xee"
    return stamp(image, scramble=True)


class Monitor(unittest.TestCase):
    def test_follows_a_real_endpoint(self):
        peer = Peer()
        self.addCleanup(peer.close)
        with sdk_output():
            udp = ri.UDP(0xEE, 0, "127.0.0.1", peer.port)
        udp.Send()
        peer.receive()  # learns the endpoint's address
        monitor = tl.LinkMonitor(0.002, 0.01)  # lost after 5 silent cycles
        events = []
        monitor.SetCallback(lambda event, m: events.append((event, m.Cycles(), m is monitor)))

        def cycle(answer):
            if answer:
                peer.send(state_image(monitor.Cycles() + 1))
                result = 0
                for _ in range(1000):  # loopback delivers within the send; the bound is a guard
                    result = udp.Recv()
                    if result != -1:
                        break
            else:
                result = udp.Recv()
            monitor.Update(result)

        for answer in [True] * 10 + [False] * 7 + [True] * 3:
            cycle(answer)
        self.assertEqual(events, [(tl.LinkEvent.Lost, 15, True), (tl.LinkEvent.Restored, 18, True)])
        self.assertEqual(monitor.ValidCycles(), 13)
        self.assertEqual(monitor.LongestGapCycles(), 7)
        self.assertAlmostEqual(monitor.LongestGapSeconds(), 0.014)
        self.assertAlmostEqual(monitor.SuccessRate(), 13 / 20)
        self.assertFalse(monitor.Lost())
        self.assertEqual(monitor.LostEvents(), 1)
        with sdk_output():
            del udp

    def test_callback_errors_reach_the_caller_after_the_update(self):
        monitor = tl.LinkMonitor(0.01, 0.01)

        def fails(event, m):
            raise RuntimeError(f"saw {event.name}")

        monitor.SetCallback(fails)
        with self.assertRaisesRegex(RuntimeError, "saw Lost"):
            monitor.Update(-1)
        self.assertTrue(monitor.Lost())  # the update itself is complete
        self.assertEqual(monitor.Cycles(), 1)
        monitor.SetCallback(None)
        self.assertFalse(monitor.Update(0))

    def test_bad_arguments(self):
        with sdk_output():
            with self.assertRaisesRegex(ValueError, "period must be at least"):
                tl.LinkMonitor(0.0)
        with self.assertRaises(TypeError):
            tl.LinkMonitor(0.002).Update("0")


class Loop(unittest.TestCase):
    def test_slow_function_every_nth_cycle_and_stopping(self):
        loop = tl.PeriodicLoop(0.001)
        order = []
        self.assertEqual(loop.Run(lambda: order.append("B"), 7, 3, lambda: order.append("S")), 7)
        self.assertEqual("".join(order), "SBBBSBBBSB")
        calls = []

        def three_more():
            calls.append(1)
            return len(calls) < 4

        self.assertEqual(loop.Run(three_more), 4)  # cycles=0: until the body returns False
        self.assertEqual(loop.Cycles(), 3)

    def test_overruns_are_counted(self):
        period = 0.02
        loop = tl.PeriodicLoop(period)
        on_time = []

        def body():
            if loop.Cycles() in (1, 3):
                time.sleep(3.5 * period)  # never shorter than asked

        loop.Start()
        for _ in range(5):
            body()
            on_time.append(loop.Wait())
        self.assertFalse(on_time[1])
        self.assertFalse(on_time[3])
        self.assertEqual(loop.Overruns(), on_time.count(False))
        self.assertGreaterEqual(loop.MissedDeadlines(), 4)
        self.assertGreaterEqual(loop.MaxLateness(), 2.5 * period)

    def test_body_errors_end_the_run(self):
        loop = tl.PeriodicLoop(0.001)

        def body():
            raise ValueError("from the body")

        with self.assertRaisesRegex(ValueError, "from the body"):
            loop.Run(body, 5)
        with self.assertRaisesRegex(ValueError, "every is given without slow"):
            loop.Run(lambda: None, 5, 2)

    def test_other_threads_run_while_it_sleeps(self):
        loop = tl.PeriodicLoop(0.01)
        free, during = [], []
        for _ in range(2):  # alternately; the best round of each
            free.append(count_while(lambda: time.sleep(0.5)))
            during.append(count_while(lambda: loop.Run(lambda: None, 50)))
        self.assertGreaterEqual(max(during) / max(free), 0.5, f"free {free}, during {during}")

    def test_ctrl_c_ends_the_sleep(self):
        loop = tl.PeriodicLoop(600.0)
        loop.Start()
        watcher = when_waiting(threading.get_native_id(), ("clock_nanosleep",), interrupt_main)
        with self.assertRaises(KeyboardInterrupt):
            loop.Wait()
        watcher.join()
        self.assertEqual(loop.Cycles(), 0)

    def test_bad_period(self):
        with sdk_output():
            for period in (0.0, -1.0, 1e9):
                with self.assertRaisesRegex(ValueError, "period must be above 0 s"):
                    tl.PeriodicLoop(period)


class Recorder(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="torvane-link-")
        self.addCleanup(shutil.rmtree, self.dir)

    def test_takes_robot_interface_records_and_writes_csv(self):
        recorder = tl.LowFlightRecorder(2.0, 500.0)
        self.assertEqual(recorder.Capacity(), 1000)
        cmd = ri.LowCmd()
        state = ri.LowState()
        for i in range(1005):
            cmd.motorCmd[0].q = i * 0.5
            state.tick = i
            recorder.Record(i * 0.002, cmd, 0 if i % 2 else -1, state)
        self.assertEqual((recorder.Size(), recorder.Recorded()), (1000, 1005))
        path = os.path.join(self.dir, "low.csv")
        recorder.WriteCsv(path)
        with open(path) as f:
            lines = f.read().splitlines()
        self.assertEqual(len(lines), 1001)
        header = lines[0].split(",")
        first = dict(zip(header, lines[1].split(",")))
        last = dict(zip(header, lines[-1].split(",")))
        self.assertEqual((first["time_s"], first["recv_result"], first["cmd.motorCmd[0].q"],
                          first["state.tick"]), ("0.010000", "0", "2.5", "5"))
        self.assertEqual((last["cmd.motorCmd[0].q"], last["state.tick"]), ("502", "1004"))

    def test_file_in_a_directory_and_failures(self):
        recorder = tl.HighFlightRecorder(0.01, 1000.0)
        recorder.Record(tl.MonotonicSeconds(), ri.HighCmd(), -2, ri.HighState())
        path = recorder.WriteCsvInDirectory(self.dir)
        self.assertTrue(os.path.basename(path).startswith("flight-high-"))
        self.assertTrue(path.endswith(".csv"))
        with open(path) as f:
            self.assertTrue(f.readline().startswith("time_s,recv_result,cmd.mode,"))
        missing = os.path.join(self.dir, "missing")
        with sdk_output() as out:
            with self.assertRaisesRegex(OSError, "cannot write"):
                recorder.WriteCsvInDirectory(missing)
            with self.assertRaisesRegex(OSError, "cannot write"):
                recorder.WriteCsv(os.path.join(missing, "a.csv"))
        self.assertIn("[Error] FlightRecorder: cannot write " + missing, out[0])
        with self.assertRaises(TypeError):
            recorder.Record(0.0, ri.LowCmd(), 0, ri.HighState())  # the other level's record
        with self.assertRaisesRegex(ValueError, "must be above 0"):
            tl.HighFlightRecorder(0.0)


def stub_surface(path):
    names = {}
    with open(path) as f:
        tree = ast.parse(f.read())
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            names[node.name] = {item.name if isinstance(item, ast.FunctionDef) else item.target.id
                                for item in node.body
                                if isinstance(item, (ast.FunctionDef, ast.AnnAssign))}
        elif isinstance(node, ast.FunctionDef):
            names[node.name] = None
    return names


class Stubs(unittest.TestCase):
    def test_stubs_name_the_live_surface(self):
        stubbed = stub_surface(STUB)
        live = {}
        for name, value in vars(tl).items():
            if name.startswith("_"):
                continue
            if isinstance(value, type):
                live[name] = {m for m in vars(value) if not m.startswith("_")}
            elif callable(value):
                live[name] = None
        for name, members in live.items():
            with self.subTest(name=name):
                self.assertIn(name, stubbed)
                if members is not None:
                    self.assertEqual(members, {m for m in stubbed[name] if not m.startswith("_")})
        self.assertEqual(set(stubbed), set(live))

    @unittest.skipUnless(MYPY, "mypy not found")
    def test_mypy_strict_over_stubs_and_use(self):
        with tempfile.TemporaryDirectory() as tmp:
            use = os.path.join(tmp, "use.py")
            with open(use, "w") as f:
                f.write("import robot_interface as ri\nimport torvane_link as tl\n"
                        "r = tl.LowFlightRecorder()\n"
                        "r.Record(tl.MonotonicSeconds(), ri.LowCmd(), 0, ri.LowState())\n"
                        "m = tl.LinkMonitor(0.002)\nm.SetCallback(lambda e, mon: print(e))\n"
                        "n: int = tl.PeriodicLoop(0.002).Run(lambda: None, 3)\n")
            bad = os.path.join(tmp, "bad.py")
            with open(bad, "w") as f:
                f.write("import robot_interface as ri\nimport torvane_link as tl\n"
                        "tl.HighFlightRecorder().Record(0.0, ri.LowCmd(), 0, ri.HighState())\n")
            env = dict(os.environ, MYPYPATH=os.path.dirname(STUB))
            args = [MYPY, "--strict", "--python-version", "3.12", "--cache-dir",
                    os.path.join(tmp, "cache"), "--no-error-summary"]
            done = subprocess.run(args + [STUB, use], env=env, capture_output=True, text=True,
                                  timeout=300)
            self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
            done = subprocess.run(args + [bad], env=env, capture_output=True, text=True,
                                  timeout=300)
            self.assertIn('bad.py:3: error: Argument 2 to "Record"', done.stdout)


if __name__ == "__main__":
    unittest.main()
