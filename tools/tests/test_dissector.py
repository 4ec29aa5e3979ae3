"""The Wireshark dissector under tshark, isolated from any user configuration: its field offsets
against the C++ records, its output on hand-made and emulator captures against stored
snapshots, and no Lua error on any cut or foreign datagram."""

import collections
import os
import re
import struct
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

    def summary(self, capture, ports=None, options=()):
        """One line per frame: number, direction, UDP length, protocol, info, expert messages;
        `options` go to tshark before them."""
        args = [*options, "-T", "fields", "-E", "separator=|", "-E", "occurrence=a",
                "-E", "aggregator=; "]
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


def by_port_and_by_content(test, tshark, capture, port, ports=None):
    """The summary with every datagram on `port` taken by the port preference. By content alone
    each frame must read the same, except those without header FE EF and a level flag, which
    the heuristic leaves to UDP."""
    by_port = tshark.summary(capture, ports, options=("-o", f"torvane.port:{port}"))
    by_content = tshark.summary(capture, ports)
    test.assertEqual(len(by_port.splitlines()), len(by_content.splitlines()))
    for taken, found in zip(by_port.splitlines(), by_content.splitlines()):
        if "Malformed: no header FE EF" in taken or "Malformed: level flag" in taken:
            test.assertEqual(found.split(" | ")[3], "UDP", found)
        else:
            test.assertEqual(found, taken)
    return by_port


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
        # The high-level robot's port taken by preference: its damaged datagrams without a
        # header show as malformed; the low-level link and the last two flows are found (or
        # not) by content.
        snapshot(self, "made-summary.txt",
                 by_port_and_by_content(self, self.tshark, self.capture, 8082))

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


def write_udp_capture(path, datagrams):
    """A classic pcap file (Ethernet, IPv4 on 127.0.0.1) of (source port, destination port,
    payload) datagrams, one a millisecond."""
    with open(path, "wb") as f:
        f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
        for i, (src, dst, payload) in enumerate(datagrams):
            udp = struct.pack(">HHHH", src, dst, 8 + len(payload), 0) + payload
            ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, 17, 0,
                             bytes([127, 0, 0, 1]), bytes([127, 0, 0, 1]))
            frame = bytes(12) + b"\x08\x00" + ip + udp
            f.write(struct.pack("<IIII", 1700000000, 1000 * i, len(frame), len(frame)))
            f.write(frame)


def foreign(first, length):
    """`length` bytes that start with `first` and go on with a fixed pattern."""
    return bytes(first) + bytes((37 * k + 11) & 0xFF for k in range(length - len(first)))


class ForeignPayloads(unittest.TestCase):
    """Payloads of other protocols at every torvane length, alone on their flow and after a
    torvane datagram on the same flow: the heuristic takes none of them, the port preference
    takes them all."""

    PORT = 9000
    FOREIGN = [
        ("0x47 at the high-level command length", foreign([0x47], 129)),
        ("0x47 at the high-level state length", foreign([0x47], 1087)),
        ("0x47 at the low-level command length", foreign([0x47], 614)),
        ("0x47 at the low-level state length", foreign([0x47], 807)),
        ("FE EF with level flag 0x12", foreign([0xFE, 0xEF, 0x12], 807)),
        ("FE EF EE at a length torvane does not use", foreign([0xFE, 0xEF, 0xEE], 500)),
        ("FE EF FF at the other level's state length", foreign([0xFE, 0xEF, 0xFF], 1087)),
    ]

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.tshark = Tshark(cls.tmp.name)
        cls.capture = os.path.join(cls.tmp.name, "foreign.pcap")
        # Each foreign payload on a flow of its own, then a low-level state (its checksum is
        # bad, it is all zero after the header) followed by the same payloads on its flow.
        datagrams = [(41001 + i, cls.PORT, payload) for i, (_, payload) in enumerate(cls.FOREIGN)]
        datagrams.append((42000, cls.PORT, foreign([0xFE, 0xEF, 0xFF], 807)))
        datagrams += [(42000, cls.PORT, payload) for _, payload in cls.FOREIGN]
        write_udp_capture(cls.capture, datagrams)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def protocols(self, *args):
        out = self.tshark.run(self.capture, *args, "-T", "fields", "-e", "_ws.col.Protocol")
        return out.split()

    def test_a_foreign_payload_on_a_torvane_flow_is_not_taken_for_torvane(self):
        # Frame 12: 807 bytes starting with 0x47, after a low-level state on the same flow.
        protocols = self.protocols()
        self.assertEqual(protocols[7], "TORVANE")
        self.assertEqual(protocols[11], "UDP")
        self.assertEqual(self.protocols("-o", f"torvane.port:{self.PORT}")[11], "TORVANE")

    def test_by_content_and_by_port_they_match_their_snapshot(self):
        names = "".join(f"{i + 1}, {i + 9}: {name}\n" for i, (name, _) in enumerate(self.FOREIGN))
        text = ("== frames 1-7 each on a flow of its own, 8 a low-level state, 9-15 on its flow\n" +
                names + "== by content\n" + self.tshark.summary(self.capture) +
                f"== with torvane.port:{self.PORT}\n" +
                self.tshark.summary(self.capture, options=("-o", f"torvane.port:{self.PORT}")))
        snapshot(self, "foreign-payloads.txt", text)


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
                                       by_port_and_by_content(self, tshark, path, port,
                                                              {str(port): "robot"})))
            snapshot(self, "emulator-faults.txt", "".join(text))


if __name__ == "__main__":
    unittest.main()
