"""torvane-linkstat on a hand-made capture with exact times (stored snapshot) and on emulator
captures with each fault injected (figures against the emulator's own account)."""

import os
import re
import socket
import subprocess
import tempfile
import time
import unittest

from torvane_test_support.capture import take_capture
from torvane_test_support.sim import SimProcess as Sim
from torvane_test_support.wire import command

LINKSTAT = os.environ["TORVANE_LINKSTAT"]
SNAPSHOTS = os.environ["TORVANE_SNAPSHOTS"]
UPDATE = os.environ.get("TORVANE_UPDATE_SNAPSHOTS") == "1"


def linkstat(*args):
    return subprocess.run([LINKSTAT, *args], capture_output=True, timeout=60, text=True)


def figures(report, direction):
    """The block of one direction ("robot" or "client" as sender) as {name: text}."""
    blocks = re.split(r"^(?=\S)", report, flags=re.M)
    for block in blocks:
        lines = block.splitlines()
        if lines and (lines[0].startswith("127.0.0.1:") and
                      (direction == "robot") == (lines[0].split()[0] == ROBOT[0])):
            return {l.split()[0]: l.split(None, 1)[1] for l in lines[1:]}
    raise AssertionError(f"no {direction} block in:\n{report}")


ROBOT = [""]


class Linkstat(unittest.TestCase):
    def test_hand_made_capture_matches_its_snapshot(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "made.pcap")
            subprocess.run([os.environ["TORVANE_MAKE_CAPTURE"], path], check=True)
            done = linkstat(path)
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        stored = os.path.join(SNAPSHOTS, "linkstat-made.txt")
        if UPDATE:
            with open(stored, "w") as f:
                f.write(done.stdout)
        with open(stored) as f:
            self.assertEqual(done.stdout, f.read())

    def test_faults_are_counted_as_the_emulator_injected_them(self):
        with tempfile.TemporaryDirectory() as tmp:
            for fault in ("--drop", "--corrupt-crc", "--corrupt-header", "--truncate",
                          "--duplicate"):
                with self.subTest(fault=fault):
                    path = os.path.join(tmp, fault + ".pcap")
                    port, kinds = take_capture(path, "low", 30, "--seed", "3", fault, "0.3")
                    done = linkstat(path)
                    self.assertEqual(done.returncode, 0, done.stderr)
                    ROBOT[0] = f"127.0.0.1:{port}"
                    robot, client = figures(done.stdout, "robot"), figures(done.stdout, "client")

                    sent = sum(0 if k == "drop" else 2 if k == "duplicate" else 1 for k in kinds)
                    good = [i + 1 for i, k in enumerate(kinds) if k in ("ok", "duplicate")]
                    missing = good[-1] - good[0] + 1 - len(set(good))
                    self.assertEqual(robot["datagrams"], f"{sent} ({sent - kinds.count('truncate') - kinds.count('header')} torvane, {kinds.count('truncate')} wrong length, {kinds.count('header')} bad header, 0 foreign)")
                    self.assertTrue(robot["checksum"].startswith(f"{kinds.count('crc')} bad, "))
                    self.assertRegex(robot["SN"], rf"^{good[0]}\.\.{good[-1]}: \d+ gaps "
                                     rf"\({missing} missing\), {kinds.count('duplicate')} "
                                     r"repeats, 0 backwards$")
                    self.assertEqual(client["datagrams"], "30 (30 torvane, 0 wrong length, "
                                     "0 bad header, 0 foreign)")
                    self.assertEqual(client["SN"], "0..29: 0 gaps (0 missing), 0 repeats, "
                                     "0 backwards")

    def test_a_capture_cut_inside_a_record_is_reported_up_to_the_cut(self):
        """Regression: a recorder killed while writing leaves its last record cut off, and
        torvane-linkstat used to say only "truncated dump file"."""
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "made.pcap")
            subprocess.run([os.environ["TORVANE_MAKE_CAPTURE"], path], check=True)
            with open(path, "rb") as f:
                whole = f.read()
            starts, at = [], 24  # record offsets after the file header
            while at < len(whole):
                starts.append(at)
                at += 16 + int.from_bytes(whole[at + 8:at + 12], "little")
            before, cut = os.path.join(tmp, "before.pcap"), os.path.join(tmp, "cut.pcap")
            # The last record (foreign) and the one before it (a command of a flow of its own).
            for record in (len(starts) - 1, len(starts)):
                start = starts[record - 1]
                with open(before, "wb") as f:
                    f.write(whole[:start])
                expected = linkstat(before)
                self.assertEqual((expected.returncode, expected.stderr), (0, ""))
                # Inside the record's header and inside its data.
                for end in (start + 1, start + 15, start + 16, start + 40):
                    with self.subTest(record=record, end=end):
                        with open(cut, "wb") as f:
                            f.write(whole[:end])
                        done = linkstat(cut)
                        self.assertEqual(done.returncode, 0, done.stderr)
                        self.assertEqual(done.stdout, expected.stdout)
                        self.assertEqual(done.stderr,
                                         f"torvane-linkstat: {cut}: cut off inside record "
                                         f"{record} (its recorder stopped while writing it): "
                                         f"the {record - 1} whole records before it are read\n")

    def test_an_emulator_killed_while_recording_loses_at_most_its_last_second(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "killed.pcap")
            sim = Sim("--level", "low", "--lockstep", "--trace", "--pcap", path)
            try:
                with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as client:
                    client.bind(("127.0.0.1", 0))
                    for serial in range(20):
                        client.sendto(command("low", serial), ("127.0.0.1", sim.port))
                        self.assertEqual(sim.answer(), "ok")
                # The recorder flushes within a second of its own accord: wait, up to ten.
                give_up = time.monotonic() + 10
                while "20 (20 torvane" not in linkstat(path).stdout and time.monotonic() < give_up:
                    time.sleep(0.05)
            finally:
                sim.proc.kill()
                sim.proc.wait(timeout=20)
                sim.proc.stdout.close()
            done = linkstat(path)
            self.assertEqual((done.returncode, done.stderr), (0, ""))
            ROBOT[0] = f"127.0.0.1:{sim.port}"
            for direction in ("robot", "client"):
                self.assertEqual(figures(done.stdout, direction)["datagrams"],
                                 "20 (20 torvane, 0 wrong length, 0 bad header, 0 foreign)")

    def test_bad_input_gets_one_line_and_a_failure_status(self):
        with tempfile.TemporaryDirectory() as tmp:
            text = os.path.join(tmp, "not-a-capture.pcap")
            with open(text, "w") as f:
                f.write("this is not a capture\n")
            for args, status in (([], 2), (["a", "b"], 2), ([os.path.join(tmp, "none")], 1),
                                 ([text], 1)):
                with self.subTest(args=args):
                    done = linkstat(*args)
                    self.assertEqual(done.returncode, status)
                    self.assertEqual(done.stdout, "")
                    self.assertEqual(len(done.stderr.splitlines()), 1, done.stderr)
                    self.assertTrue(done.stderr.startswith("torvane-linkstat: "))
        self.assertEqual(linkstat("--help").returncode, 0)


if __name__ == "__main__":
    unittest.main()
