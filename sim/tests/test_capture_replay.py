"""torvane-sim --pcap records every datagram both ways, those the endpoint drains unread
included; --replay plays a capture back so that the Python example gets the same states."""

import json
import os
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import unittest

SIM = os.environ["TORVANE_SIM"]
SOURCE = os.environ["TORVANE_SOURCE_DIR"]
HERE = os.path.dirname(os.path.abspath(__file__))
from torvane_test_support.peer import unused_port  # noqa: E402
from torvane_test_support.sim import SimProcess as Sim  # noqa: E402
from torvane_test_support.wire import command  # noqa: E402


def read_pcap(path):
    """(source port, destination port, payload) of each record of a raw-IPv4 pcap file."""
    with open(path, "rb") as f:
        data = f.read()
    magic, _, _, _, _, _, linktype = struct.unpack_from("<IHHiIII", data, 0)
    assert magic == 0xA1B2C3D4 and linktype == 101, (hex(magic), linktype)
    records, at = [], 24
    while at < len(data):
        _, _, caplen, _ = struct.unpack_from("<IIII", data, at)
        packet = data[at + 16:at + 16 + caplen]
        ihl = (packet[0] & 0x0F) * 4
        sport, dport = struct.unpack_from(">HH", packet, ihl)
        records.append((sport, dport, packet[ihl + 8:]))
        at += 16 + caplen
    return records


def run_example(port, out, must_succeed=True):
    """The low-level stand-up example against 127.0.0.1:port, its states recorded in `out`.
    Against a replay the example's own verdict depends on how the machine kept pace with the
    recorded timing, so only the states it took are compared there."""
    example = os.path.join(SOURCE, "examples", "python", "stand_up.py")
    done = subprocess.run([sys.executable, os.path.join(HERE, "record_states.py"), out, example,
                           "--port", str(port), "--local-port", str(unused_port())],
                          capture_output=True, text=True, timeout=60)
    if must_succeed and done.returncode != 0:
        raise AssertionError(f"the example failed:\n{done.stdout}\n{done.stderr}")
    with open(out) as f:
        return [json.loads(line) for line in f]


def by_serial(states):
    return {s["SN"][0]: s for s in states}


class Capture(unittest.TestCase):
    def test_every_command_is_recorded_even_those_drained_unread(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "burst.pcap")
            sim = Sim("--level", "high", "--lockstep", "--trace", "--pcap", path)
            sent = [command("high", serial) for serial in range(5)]
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as client:
                client.bind(("127.0.0.1", 0))
                # Stopped, the emulator finds all five queued at once; its endpoint keeps the
                # last and answers once.
                os.kill(sim.proc.pid, signal.SIGSTOP)
                for datagram in sent:
                    client.sendto(datagram, ("127.0.0.1", sim.port))
                os.kill(sim.proc.pid, signal.SIGCONT)
                self.assertEqual(sim.answer(), "ok")
                state = client.recv(2000)
                client_port = client.getsockname()[1]
            sim.stop()
            records = read_pcap(path)
        self.assertEqual([r[2] for r in records], sent + [state])
        self.assertEqual([(r[0], r[1]) for r in records],
                         [(client_port, sim.port)] * 5 + [(sim.port, client_port)])

    def test_an_unwritable_capture_stops_the_emulator_with_one_line(self):
        done = subprocess.run([SIM, "--level", "low", "--pcap", "/nonexistent/dir/x.pcap"],
                              capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, 1)
        self.assertEqual(len(done.stderr.splitlines()), 1, done.stderr)
        self.assertIn("cannot write the capture /nonexistent/dir/x.pcap", done.stderr)


class Replay(unittest.TestCase):
    def test_the_python_example_gets_the_recorded_states_field_for_field(self):
        with tempfile.TemporaryDirectory() as tmp:
            recorded, replayed = (os.path.join(tmp, n) for n in ("recorded.pcap", "replayed.pcap"))
            sim = Sim("--level", "low", "--pcap", recorded)
            first = run_example(sim.port, os.path.join(tmp, "first.jsonl"))
            sim.stop()

            replay = Sim("--replay", recorded, "--pcap", replayed)
            second = run_example(replay.port, os.path.join(tmp, "second.jsonl"),
                                 must_succeed=False)
            replay.wait(60)  # it ends once the whole capture is played
            self.assertTrue(replay.child.ended_by_itself, "the replay did not end within 60 s")
            tally = replay.stop()
            self.assertTrue(any("replayed" in line for line in tally), tally)

            original = [r for r in read_pcap(recorded) if len(r[2]) == 807]
            again = [r for r in read_pcap(replayed) if len(r[2]) == 807]

        # The robot's side went out again byte for byte, in order, to a client on another port
        # (once the example has ended, sends to its closed port may fail and go unrecorded).
        serial = lambda r: struct.unpack_from("<I", r[2], 4)[0]  # noqa: E731
        recorded_by_serial = {serial(r): r[2] for r in original}
        self.assertEqual(len(recorded_by_serial), len(original))
        serials_again = [serial(r) for r in again]
        self.assertEqual(serials_again, sorted(set(serials_again)))
        self.assertGreater(len(again), 0)
        for r in again:
            self.assertEqual(r[2], recorded_by_serial[serial(r)])
        self.assertNotEqual(again[0][1], original[0][1])

        # The example saw the same states, field for field, wherever both runs took one.
        a, b = by_serial(first), by_serial(second)
        self.assertGreater(len(b), 0)
        self.assertEqual(list(b), sorted(b))
        shared = sorted(set(a) & set(b))
        self.assertGreater(len(shared), 0)
        for serial in shared:
            self.assertEqual(a[serial], b[serial], f"state SN {serial}")
        recorded_serials = {struct.unpack_from("<I", r[2], 4)[0] for r in original}
        self.assertLessEqual(set(b), recorded_serials)

    def test_bad_replays_get_one_line_and_a_failure_status(self):
        with tempfile.TemporaryDirectory() as tmp:
            empty = os.path.join(tmp, "commands-only.pcap")
            sim = Sim("--level", "high", "--lockstep", "--trace", "--pcap", empty, "--drop", "1")
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as client:
                client.sendto(command("high", 0), ("127.0.0.1", sim.port))
                sim.answer()
            sim.stop()
            states = os.path.join(tmp, "states.pcap")
            sim = Sim("--level", "high", "--lockstep", "--trace", "--pcap", states)
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as client:
                client.sendto(command("high", 0), ("127.0.0.1", sim.port))
                sim.answer()
            sim.stop()
            # A client of the other level is not served; the first of the capture's level is,
            # with what the robot sent, byte for byte.
            replay = Sim("--replay", states)
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as client:
                client.settimeout(20)
                client.sendto(command("low", 0), ("127.0.0.1", replay.port))
                self.assertIn(b"not a high-level command", replay.readline())
                client.sendto(command("high", 0), ("127.0.0.1", replay.port))
                self.assertIn(b"replaying to 127.0.0.1:", replay.readline())
                got = client.recv(2000)
            replay.wait(30)
            self.assertTrue(replay.child.ended_by_itself, "the replay did not end within 30 s")
            replay.stop()
            self.assertEqual([got], [r[2] for r in read_pcap(states) if len(r[2]) == 1087])

            cases = [
                (["--replay", os.path.join(tmp, "none.pcap")], 1, "cannot read the capture"),
                (["--replay", empty], 1, "holds no state datagram to replay"),
                (["--replay", states, "--level", "low"], 1, "holds high-level states"),
                (["--replay", states, "--lockstep"], 2, "--replay plays the capture"),
                (["--replay", states, "--drop", "0.5"], 2, "--replay plays the capture"),
            ]
            for args, status, message in cases:
                with self.subTest(args=args[2:]):
                    done = subprocess.run([SIM, "--port", "0"] + args,
                                          capture_output=True, text=True, timeout=30)
                    self.assertEqual(done.returncode, status, done.stderr)
                    self.assertIn(message, done.stderr)
                    self.assertLessEqual(len(done.stderr.splitlines()), 2, done.stderr)

            # A capture whose recorder was killed inside its third record is played up to the cut.
            cut = os.path.join(tmp, "cut.pcap")
            with open(states, "rb") as f:
                whole = f.read()
            with open(cut, "wb") as f:
                f.write(whole + whole[-(16 + 28 + 1087):][:30])
            done = subprocess.run([SIM, "--port", "0", "--replay", cut,
                                   "--duration", "0.2"], capture_output=True, text=True, timeout=30)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(done.stderr, f"torvane-sim: {cut}: cut off inside record 3 (its "
                             "recorder stopped while writing it): the 2 whole records before "
                             "it are read\n")
            self.assertIn(f"replay of {cut}: 1 high-level datagrams", done.stdout)

            # A port in use: the emulator and the replay refuse it with the same line.
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as taken:
                taken.bind(("127.0.0.1", 0))
                port = taken.getsockname()[1]
                for args in (["--level", "low"], ["--replay", states]):
                    with self.subTest(args=args):
                        done = subprocess.run([SIM, "--port", str(port)] + args,
                                              capture_output=True, text=True, timeout=30)
                        self.assertEqual(done.returncode, 1, done.stderr)
                        self.assertEqual(done.stderr.splitlines()[-1],
                                         f"torvane-sim: cannot listen on 127.0.0.1:{port}: "
                                         "Address already in use", done.stderr)


if __name__ == "__main__":
    unittest.main()
