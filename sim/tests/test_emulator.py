"""The SDK through robot_interface against torvane-sim, in lockstep: one command, one answer."""

import re
import subprocess
import unittest

import robot_interface as ri
from torvane_test_support.lockstep import lockstep
from torvane_test_support.output import sdk_output
from torvane_test_support.peer import unused_port
from torvane_test_support.sim import SIM, Sim

STAND = [0.0, 0.67, -1.3] * 4


class Cycle:
    """A client of the emulator: Send, wait for the emulator's account, Recv."""

    def __init__(self, sim, level):
        self.sim = sim
        with sdk_output():
            self.udp = ri.UDP(level, unused_port(), "127.0.0.1", sim.port)

    def run(self, cmd):
        return lockstep(self.udp, self.sim, cmd)


class LowLevel(unittest.TestCase):
    def setUp(self):
        self.sim = Sim("low")
        self.addCleanup(self.sim.stop)
        self.client = Cycle(self.sim, 0xFF)
        self.cmd, self.state = ri.LowCmd(), ri.LowState()
        self.client.udp.InitCmdData(self.cmd)
        self.safety = ri.Safety(ri.Zorvan)

    def cycle(self):
        kind, result = self.client.run(self.cmd)
        self.assertEqual((kind, result), ("ok", 0))
        self.client.udp.GetRecv(self.state)

    def stand_up(self, cycles=1500):
        self.cycle()
        start = [m.q for m in self.state.motorState[:12]]
        trips = 0
        for i in range(cycles):
            a = min(1.0, i / 1000)
            for j, m in enumerate(self.cmd.motorCmd[:12]):
                m.q, m.dq, m.Kp, m.Kd, m.tau = (1 - a) * start[j] + a * STAND[j], 0.0, 80.0, 2.0, 0.0
            self.safety.PositionLimit(self.cmd)
            with sdk_output():
                if (self.safety.PowerProtect(self.cmd, self.state, 10) < 0
                        or self.safety.PositionProtect(self.cmd, self.state, 0.087) < 0):
                    trips += 1
            self.cycle()
        return trips

    def test_stand_up_converges_without_a_trip(self):
        self.assertEqual(self.stand_up(), 0)
        for j, m in enumerate(self.state.motorState[:12]):
            self.assertAlmostEqual(m.q, STAND[j], delta=0.05, msg=f"joint {j}")
            self.assertEqual(m.mode, 10)
        self.assertGreater(self.state.tick, 0)
        self.assertGreater(max(self.state.footForce), 0)
        self.assertLessEqual(self.state.bms.SOC, 100)

    def test_motors_off_let_the_joints_sag(self):
        self.stand_up(1200)
        standing = [m.q for m in self.state.motorState[:12]]
        for m in self.cmd.motorCmd[:12]:
            m.mode = 0
        for _ in range(500):
            self.cycle()
        for leg in range(4):
            thigh, calf = 3 * leg + 1, 3 * leg + 2
            self.assertGreater(self.state.motorState[thigh].q, standing[thigh] + 0.3)
            self.assertLess(self.state.motorState[calf].q, standing[calf] - 0.6)
            self.assertEqual(self.state.motorState[calf].mode, 0)


class HighLevel(unittest.TestCase):
    def setUp(self):
        self.sim = Sim("high", "--engine", "simple")  # the velocity-following body model
        self.addCleanup(self.sim.stop)
        self.client = Cycle(self.sim, 0xEE)
        self.cmd, self.state = ri.HighCmd(), ri.HighState()
        self.client.udp.InitCmdData(self.cmd)

    def walk(self, cycles, vx=0.0, vy=0.0, yaw_rate=0.0, mode=2):
        self.cmd.mode, self.cmd.velocity, self.cmd.yawSpeed = mode, [vx, vy], yaw_rate
        for _ in range(cycles):
            self.assertEqual(self.client.run(self.cmd), ("ok", 0))
        self.client.udp.GetRecv(self.state)

    def test_walk_moves_the_body_the_commanded_way(self):
        self.walk(500, vx=0.5)  # one second
        x, y, z = self.state.position
        self.assertAlmostEqual(x, 0.45, delta=0.03)  # 0.5 m less the lag of the start
        self.assertAlmostEqual(y, 0.0, delta=1e-3)
        self.assertEqual(self.state.mode, 2)
        self.assertAlmostEqual(self.state.velocity[0], 0.5, delta=0.01)
        self.walk(500, yaw_rate=1.0)
        self.assertAlmostEqual(self.state.imu.rpy[2], 0.9, delta=0.05)
        self.assertAlmostEqual(self.state.imu.gyroscope[2], 1.0, delta=0.01)
        self.walk(500, vx=0.5)  # now heading about 52 degrees left
        x2, y2, _ = self.state.position
        self.assertGreater(y2, 0.25)
        self.walk(10, vx=0.5, mode=1)  # standing: no more walking
        self.assertLess(self.state.velocity[0], 0.5)
        self.assertEqual(self.state.mode, 1)

    def test_height_and_attitude_follow(self):
        self.cmd.bodyHeight = -0.05
        self.cmd.euler = [0.0, 0.2, 0.0]
        self.cmd.gaitType = 1
        self.walk(300, mode=1)
        # 0.05 m below the standing height, 0.27 m (quadruped.xml's, which the simple model plays)
        self.assertAlmostEqual(self.state.bodyHeight, 0.22, delta=0.005)
        self.assertAlmostEqual(self.state.imu.rpy[1], 0.2, delta=0.005)
        self.assertEqual(self.state.gaitType, 1)


class Faults(unittest.TestCase):
    EXPECTED = {"ok": 0, "duplicate": 0, "drop": -1, "header": -1, "crc": -3, "truncate": -3}

    def run_faults(self, level, cmd):
        sim = Sim(level, "--seed", "7", "--drop", "0.1", "--corrupt-crc", "0.1",
                  "--corrupt-header", "0.1", "--truncate", "0.1", "--duplicate", "0.1")
        client = Cycle(sim, 0xEE if level == "high" else 0xFF)
        client.udp.InitCmdData(cmd)
        seen = {}
        for i in range(600):
            kind, result = client.run(cmd)
            self.assertEqual(result, self.EXPECTED[kind], f"cycle {i}: {kind}")
            seen[kind] = seen.get(kind, 0) + 1
        tally = " ".join(sim.stop())
        for kind in ("drop", "crc", "header", "truncate", "duplicate"):
            self.assertIn(f"{kind} {seen.get(kind, 0)}", tally)
            self.assertGreater(seen.get(kind, 0), 30)
        self.assertIn("600 answers", tally)

    def test_low_level_outcomes_match_what_was_injected(self):
        self.run_faults("low", ri.LowCmd())

    def test_high_level_outcomes_match_what_was_injected(self):
        self.run_faults("high", ri.HighCmd())

    def test_same_seed_same_faults(self):
        runs = []
        for _ in range(2):
            sim = Sim("low", "--seed", "3", "--drop", "0.3", "--corrupt-crc", "0.3")
            client = Cycle(sim, 0xFF)
            runs.append([client.run(ri.LowCmd())[0] for _ in range(50)])
            sim.stop()
        self.assertEqual(runs[0], runs[1])


class CommandLine(unittest.TestCase):
    def test_help_and_bad_options(self):
        done = subprocess.run([SIM, "--help"], capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, 0)
        self.assertIn("--lockstep", done.stdout)
        for args in (["--level", "middle"], [], ["--level", "low", "--drop", "2"],
                     ["--level", "low", "--drop", "0.6", "--truncate", "0.6"],
                     ["--level", "low", "--port", "70000"], ["--level", "low", "--bogus", "1"],
                     ["--level", "low", "--address", "localhost"]):
            with self.subTest(args=args):
                done = subprocess.run([SIM] + args, capture_output=True, text=True, timeout=30)
                self.assertEqual(done.returncode, 2)
                self.assertTrue(done.stderr.startswith("torvane-sim: "))

    def test_duration_ends_it_with_a_tally(self):
        done = subprocess.run([SIM, "--level", "high", "--port", "0",
                               "--duration", "0.2"], capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, 0)
        self.assertRegex(done.stdout, re.compile(r"^torvane-sim: 0 commands taken", re.M))


if __name__ == "__main__":
    unittest.main()
