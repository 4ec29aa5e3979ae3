"""The Wireshark dissector under tshark, isolated from any user configuration: its field offsets
against the C++ records, its output on hand-made and emulator captures against stored
snapshots, and no Lua error on any cut or foreign datagram."""

import collections
import os
import re
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ET

from torvane_test_support.capture import take_capture

TSHARK = os.environ.get("TSHARK", "tshark")
DISSECTOR = os.environ["TORVANE_DISSECTOR"]
SNAPSHOTS = os.environ["TORVANE_SNAPSHOTS"]
UPDATE = os.environ.get("TORVANE_UPDATE_SNAPSHOTS") == "1"

# Items the dissector adds beside the record's own fields.
GENERATED = {"torvane.kind", "torvane.crc.computed", "torvane.crc.status", "torvane.data"}
FAULTS = ["--drop", "--corrupt-crc", "--corrupt-header", "--truncate", "--duplicate"]
SUMMARY_FIELDS = ["frame.number", "udp.srcport", "udp.dstport", "udp.length", "_ws.col.Protocol",
                  "_ws.col.Info", "_ws.expert.message"]


class Tshark:
    """tshark with a fresh home and configuration folder, the dissector given on the command
    line, no name resolution, and heuristics before port numbers (an ephemeral port may be
    some other protocol's registered one)."""

    def __init__(self, home):
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": home,
                    "XDG_CONFIG_HOME": os.path.join(home, ".config"), "LC_ALL": "C.UTF-8"}

    def run(self, capture, *args, scripts=(DISSECTOR,)):
        """tshark's standard output; fails on an error or a Lua error."""
        argv = [TSHARK, "-n", "-r", capture, "-o", "udp.try_heuristic_first:TRUE"]
        for script in scripts:
            argv += ["-X", "lua_script:" + script]
        done = subprocess.run(argv + list(args), env=self.env, capture_output=True, timeout=120)
        errors = [l for l in done.stderr.decode().splitlines()
                  if l.strip() and not l.startswith("Running as user")]
        if done.returncode != 0 or errors:
            raise AssertionError(f"tshark failed ({done.returncode}): {errors}")
        out = done.stdout.decode()
        if "Lua Error" in out or "Lua error" in out:
            raise AssertionError("tshark reported a Lua error:\n" +
                                 "\n".join(l for l in out.splitlines() if "Lua" in l)[:2000])
        return out

    def summary(self, capture, ports=None):
        """One line per frame: number, direction, UDP length, protocol, info, expert messages."""
        args = ["-T", "fields", "-E", "separator=|", "-E", "occurrence=a", "-E", "aggregator=; "]
        for f in SUMMARY_FIELDS:
            args += ["-e", f]
        lines = []
        for line in self.run(capture, *args).splitlines():
            number, src, dst, length, proto, info, expert = line.split("|")
            # Wireshark's UDP dissector flags ports 33434-33534 as a possible traceroute; an
            # ephemeral port lands there now and then, and the note is not ours.
            expert = ";".join(e for e in expert.split(";") if not e.startswith("Possible traceroute"))
            if ports:  # the emulator's port is "robot", the client's ephemeral one "client"
                src, dst = (ports.get(src, "client"), ports.get(dst, "client"))
            lines.append(" | ".join([number, f"{src} -> {dst}", length, proto, info, expert]))
        return "\n".join(lines) + "\n"


def snapshot(test, name, text):
    path = os.path.join(SNAPSHOTS, name)
    if UPDATE:
        with open(path, "w") as f:
            f.write(text)
        return
    with open(path) as f:
        expected = f.read()
    if text != expected:
        import difflib
        diff = "".join(difflib.unified_diff(expected.splitlines(True), text.splitlines(True),
                                            "stored/" + name, "now/" + name, n=1))
        test.fail(f"{name} differs from the stored snapshot (TORVANE_UPDATE_SNAPSHOTS=1 "
                  f"rewrites it):\n{diff[:4000]}")


class Dissector(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.tshark = Tshark(cls.tmp.name)
        cls.capture = os.path.join(cls.tmp.name, "made.pcap")
        subprocess.run([os.environ["TORVANE_MAKE_CAPTURE"], cls.capture], check=True)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_field_offsets_are_those_of_the_records(self):
        expected = collections.defaultdict(list)
        out = subprocess.run([os.environ["TORVANE_RECORD_LAYOUT"]], check=True,
                             capture_output=True).stdout.decode()
        for line in out.splitlines():
            record, path, offset, size = line.split()
            expected[record].append((path, int(offset), int(size)))
        self.assertEqual(sorted(expected), ["HighCmd", "HighState", "LowCmd_refine",
                                            "LowState_refine"])

        pdml = self.tshark.run(self.capture, "-T", "pdml", "-Y", "frame.number <= 4")
        shown = {}
        for packet in ET.fromstring(pdml).iter("packet"):
            proto = next(p for p in packet.iter("proto") if p.get("name") == "torvane")
            base = int(proto.get("pos"))
            kind = None
            fields = []
            for f in proto.iter("field"):
                name = f.get("name", "")
                if name == "torvane.kind":
                    kind = f.get("show")
                if not name.startswith("torvane.") or name in GENERATED or name.endswith(".raw"):
                    continue
                fields.append((name[len("torvane."):], int(f.get("pos")) - base,
                               int(f.get("size"))))
            shown[kind] = fields
        for record, fields in expected.items():
            with self.subTest(record=record):
                self.assertEqual(sorted(shown[record]), sorted(fields))

    def test_each_kind_in_full_matches_its_snapshot(self):
        out = self.tshark.run(self.capture, "-V", "-O", "torvane", "-Y", "frame.number <= 4")
        snapshot(self, "made-detail.txt", out)

    def test_damaged_and_foreign_datagrams_match_their_snapshot(self):
        snapshot(self, "made-summary.txt", self.tshark.summary(self.capture))

    def test_a_port_preference_takes_whatever_comes_on_that_port(self):
        out = self.tshark.run(self.capture, "-o", "torvane.port:5001", "-Y", "udp.port == 5001",
                              "-T", "fields", "-e", "_ws.col.Info")
        self.assertEqual(out.strip(), "Malformed: no header FE EF (18 bytes)")

    def test_loaded_twice_it_still_dissects(self):
        out = self.tshark.run(self.capture, "-Y", "frame.number == 1", "-T", "fields",
                              "-e", "torvane.kind", scripts=(DISSECTOR, DISSECTOR))
        self.assertEqual(out.strip(), "HighCmd")

    def test_installed_it_is_found_as_a_plugin(self):
        with tempfile.TemporaryDirectory() as prefix:
            subprocess.run([os.environ["CMAKE_COMMAND"], "--install", os.environ["TORVANE_BUILD_DIR"],
                            "--prefix", prefix, "--component", "tools"],
                           check=True, capture_output=True)
            installed = [os.path.join(d, f) for d, _, files in os.walk(prefix) for f in files]
            plugins = [p for p in installed if p.endswith("/wireshark/plugins/torvane.lua")]
            self.assertEqual(len(plugins), 1, installed)
            self.assertTrue(any(p.endswith("/bin/torvane-linkstat") for p in installed))
            self.assertTrue(any(p.endswith("/share/torvane/wireshark/torvane.lua")
                                for p in installed))
            # Wireshark's personal plugin folder, holding the installed folder's contents.
            personal = os.path.join(self.tmp.name, "home-plugins")
            tshark = Tshark(personal)
            os.makedirs(os.path.join(personal, ".local", "lib", "wireshark"))
            os.symlink(os.path.dirname(plugins[0]),
                       os.path.join(personal, ".local", "lib", "wireshark", "plugins"))
            out = tshark.run(self.capture, "-Y", "frame.number == 2", "-T", "fields",
                             "-e", "torvane.kind", "-e", "torvane.crc.status", scripts=())
        self.assertEqual(out.strip(), "HighState\t2")

    def test_verdicts_are_those_of_the_shared_classification(self):
        cuts = os.path.join(self.tmp.name, "oracle-cuts.pcap")
        subprocess.run([os.environ["TORVANE_MAKE_CAPTURE"], cuts, "--cuts"], check=True)
        # Found by content, and every datagram on the port (the cuts).
        for capture, args in ((self.capture, ()), (cuts, ("-o", "torvane.port:8082"))):
            with self.subTest(capture=os.path.basename(capture)):
                shown = self.tshark.run(capture, *args, "-T", "fields", "-e", "torvane.kind",
                                        "-e", "torvane.crc.status").splitlines()
                expected = subprocess.run([os.environ["TORVANE_CLASSIFY"], capture], check=True,
                                          capture_output=True, text=True).stdout.splitlines()
                self.assertEqual(len(shown), len(expected))
                self.assertGreater(sum(1 for l in expected if l.strip()), 4)
                for frame, (got, want) in enumerate(zip(shown, expected), 1):
                    self.assertEqual(got, want, f"frame {frame}")

    def test_every_cut_and_noisy_datagram_dissects_without_a_lua_error(self):
        cuts = os.path.join(self.tmp.name, "cuts.pcap")
        subprocess.run([os.environ["TORVANE_MAKE_CAPTURE"], cuts, "--cuts"], check=True)
        # The port preference sends every one of them to the dissector, found or not.
        port = ("-o", "torvane.port:8082")
        out = self.tshark.run(cuts, *port, "-V", "-O", "torvane")  # raises on a Lua error
        frames = out.count("\nFrame ") + out.startswith("Frame ")
        self.assertEqual(frames, 129 + 1087 + 614 + 807 + 200)
        # A cut is malformed, unless it is cut to another datagram's length (and has a bad
        # checksum then); a noisy datagram of the right length has a bad checksum.
        info = self.tshark.run(cuts, *port, "-T", "fields", "-e", "_ws.col.Info").splitlines()
        odd = [l for l in info[:-200] if not l.startswith("Malformed") and "Len=0" not in l]
        self.assertEqual(odd, ["HighCmd, high level, SN 2, checksum bad",
                               "LowCmd_refine, low level, SN 4, checksum bad"])
        self.assertTrue(all(l.endswith("checksum bad") for l in info[-200:]))


class EmulatorCaptures(unittest.TestCase):
    """Captures the emulator writes with each fault injected, seeded and in lockstep."""

    def test_each_fault_matches_its_snapshot(self):
        with tempfile.TemporaryDirectory() as tmp:
            tshark = Tshark(tmp)
            text = []
            for level in ("high", "low"):
                for fault in FAULTS:
                    path = os.path.join(tmp, f"{level}{fault}.pcap")
                    port, kinds = take_capture(path, level, 12, "--seed", "7", fault, "0.4")
                    self.assertIn(fault.split("-")[-1], " ".join(kinds))
                    tshark.run(path, "-V")  # raises on a Lua error
                    text.append(f"== {level} level {fault} 0.4 --seed 7: {' '.join(kinds)}\n")
                    # Checksum values depend on the physics' figures: only verdicts are kept.
                    text.append(re.sub(r"0x[0-9a-f]{8}", "0x........",
                                       tshark.summary(path, {str(port): "robot"})))
            snapshot(self, "emulator-faults.txt", "".join(text))


if __name__ == "__main__":
    unittest.main()
