"""torvane-linkcheck against the emulator: what it reports beside what the emulator says it did,
with and without injected losses and repeats, and its answers to no robot and bad input."""

import json
import os
import re
import subprocess
import unittest

from torvane_test_support.sim import SimProcess

LINKCHECK = os.environ["TORVANE_LINKCHECK"]


def linkcheck(port, *args):
    done = subprocess.run([LINKCHECK, "--port", str(port), "--json", *args],
                          capture_output=True, text=True, timeout=60)
    last = done.stdout.strip().splitlines()[-1] if done.stdout.strip() else "{}"
    return done, json.loads(last) if last.startswith("{") else {}


def injected(tally, fault):
    """The share of answers the emulator says it gave `fault`."""
    text = "\n".join(tally)
    answers = int(re.search(r"(\d+) answers", text).group(1))
    count = int(re.search(rf"{fault} (\d+)", text).group(1))
    return count / answers


class LinkCheck(unittest.TestCase):
    def check(self, level, *faults, seconds="2"):
        sim = SimProcess("--level", level, "--lockstep", "--seed", "7", *faults)
        try:
            done, report = linkcheck(sim.port, "--level", level, "--seconds", seconds)
        finally:
            tally = sim.stop()
        return done, report, tally

    def test_clean_link_counts_every_state(self):
        # The verdict depends on how well this machine keeps time: only the counts are exact.
        done, report, _ = self.check("high")
        self.assertNotEqual(report["verdict"], "no contact", done.stdout)
        self.assertEqual(report["states_expected"], 1000)
        self.assertEqual(report["states_received"], 1000)
        self.assertEqual((report["lost"], report["crc_errors"]), (0, 0))
        for key in ("level", "rate_hz", "seconds", "success_rate", "longest_gap_ms", "rtt_us",
                    "period_error_us", "overruns", "verdict"):
            self.assertIn(key, report)
        self.assertEqual(report["level"], "high")
        self.assertEqual(set(report["rtt_us"]), {"median", "p99", "max"})
        self.assertGreater(report["rtt_us"]["median"], 0)

    def test_injected_drops_are_reported_within_a_percentage_point(self):
        done, report, tally = self.check("low", "--drop", "0.1")
        self.assertIn("the robot should be lying down or hung up", done.stdout)
        share = report["lost"] / report["states_expected"]
        self.assertAlmostEqual(share, injected(tally, "drop"), delta=0.01)
        self.assertAlmostEqual(1 - report["success_rate"], share, delta=1e-6)

    def test_heavy_loss_is_judged_insufficient(self):
        done, report, tally = self.check("high", "--drop", "0.3")
        self.assertAlmostEqual(report["lost"] / report["states_expected"],
                               injected(tally, "drop"), delta=0.01)
        self.assertEqual(report["verdict"], "insufficient")
        self.assertIn("probably not sufficient", done.stdout)
        self.assertEqual(done.returncode, 1)

    def test_duplicates_are_neither_states_nor_losses(self):
        done, report, tally = self.check("high", "--duplicate", "0.2")
        self.assertGreater(injected(tally, "duplicate"), 0.1)
        self.assertEqual(report["lost"], 0)
        self.assertEqual(report["states_received"], report["states_expected"])

    def test_bad_checksums_are_counted_and_lost(self):
        done, report, tally = self.check("high", "--corrupt-crc", "0.05")
        share = injected(tally, "crc")
        self.assertAlmostEqual(report["lost"] / report["states_expected"], share, delta=0.01)
        self.assertGreater(report["crc_errors"], 0)

    def test_nothing_answering_says_so_and_fails(self):
        sim = SimProcess("--level", "high")
        port = sim.port
        sim.stop()
        done, report = linkcheck(port, "--wait", "0.3", "--seconds", "1")
        self.assertEqual(done.returncode, 1)
        self.assertEqual(report["verdict"], "no contact")
        self.assertEqual(report["states_received"], 0)

    def test_bad_command_lines_exit_2_with_one_line(self):
        for args in (["--rate", "0"], ["--bogus"], ["--port"], ["--port", "+8082"],
                     ["--level", "middle"], ["--seconds", "nan"]):
            done = subprocess.run([LINKCHECK, *args], capture_output=True, text=True, timeout=10)
            self.assertEqual(done.returncode, 2, args)
            self.assertEqual(len(done.stderr.splitlines()), 1, args)
            self.assertEqual(done.stdout, "", args)


if __name__ == "__main__":
    unittest.main()
