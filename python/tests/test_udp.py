import os
import subprocess
import sys
import unittest

import robot_interface as ri
from support import Peer, crc, endpoint, unused_port, scrambled, sdk_output


def server(send=129, recv=1087, defer=True):
    with sdk_output():
        return ri.UDP(unused_port(), send, recv, False, ri.nonBlock, defer)


class Construction(unittest.TestCase):
    def test_three_constructors_by_count_and_type(self):
        peer = Peer()
        self.addCleanup(peer.close)
        with sdk_output() as out:
            ri.UDP(0xEE, unused_port(), "127.0.0.1", peer.port)
            ri.UDP(unused_port(), b"127.0.0.1", peer.port, 129, 1087, 0, ri.blockTimeout)
            ri.UDP(unused_port(), 129, 1087, 1, ri.nonBlock, True)
        self.assertEqual(out[0].count("UDP Initialized."), 2)
        self.assertEqual(out[0].count("Closing UDP."), 3)

    def test_rejected_arguments(self):
        bad = [
            (256, 0, "127.0.0.1", 0),                      # level beyond uint8
            (0xEE, 65536, "127.0.0.1", 0),                 # port beyond uint16
            (0xEE, 0.0, "127.0.0.1", 0),                   # float for an integer
            (0, "127.0.0.1", 0, 129, 1087, False, 2),      # integer for an enumeration
            (0, 129, 1087, False, ri.nonBlock),            # five arguments fit no overload
            (0, 129, 1087, False, ri.LeggedType.Zorvan, True),
            (0, None, 0, 129, 1087, False, ri.nonBlock),   # None text
        ]
        for args in bad:
            with self.subTest(args=args), self.assertRaises(TypeError):
                ri.UDP(*args)
        with self.assertRaises(TypeError) as caught:
            ri.UDP(0xEE, localPort=0, targetIP="127.0.0.1", targetPort=0)
        self.assertIn("__init__(): incompatible constructor arguments. The following argument "
                      "types are supported:\n    1. robot_interface.UDP(arg0: int, arg1: int, "
                      "arg2: str, arg3: int)", str(caught.exception))

    def test_lengths_that_cannot_hold_a_checksum_raise_value_error(self):
        for send, recv in ((3, 1087), (129, -1), (0, 0)):
            with self.subTest(send=send, recv=recv), self.assertRaises(ValueError):
                ri.UDP(0, "127.0.0.1", 9, send, recv, False, ri.nonBlock)
            with self.assertRaises(ValueError):
                ri.UDP(0, send, recv, False, ri.nonBlock, True)

    def test_bad_level_ends_the_process(self):
        code = "import robot_interface as ri; ri.UDP(0, 0, '127.0.0.1', 9); print('survived')"
        done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                              env=dict(os.environ), timeout=60)
        self.assertEqual(done.returncode, 255)
        self.assertEqual(done.stdout, "Level Flag Error.\n")

    def test_keywords_are_refused_everywhere(self):
        udp = server()
        for call in (lambda: udp.SetRecvTimeout(time=3),
                     lambda: udp.SetDisconnectTime(callback_dt=0.1, disconnectTime=1.0),
                     lambda: ri.Safety(type=ri.Vesko),
                     lambda: ri.Safety(ri.Vesko).PositionProtect(ri.LowCmd(), ri.LowState(), limit=0.1)):
            with self.assertRaises(TypeError):
                call()

    def test_no_counters_or_buffers_are_exposed(self):
        udp = server()
        for name in ("udpState", "sendBuf", "targetIP", "connected", "accessible"):
            self.assertFalse(hasattr(udp, name))
        with self.assertRaises(AttributeError):
            udp.extra = 1


class Overloads(unittest.TestCase):
    def test_send_overloads_and_their_error_text(self):
        with self.assertRaises(TypeError) as caught:
            server().SetSend(5)
        text = str(caught.exception)
        self.assertIn("SetSend(): incompatible function arguments. The following argument types "
                      "are supported:\n"
                      "    1. (self: robot_interface.UDP, arg0: str) -> int\n"
                      "    2. (self: robot_interface.UDP, arg0: TORVANE::HighCmd) -> int\n"
                      "    3. (self: robot_interface.UDP, arg0: TORVANE::LowCmd) -> int\n", text)
        self.assertIn("Invoked with: <robot_interface.UDP object", text)

    def test_docstrings_follow_registration_order(self):
        self.assertEqual(ri.UDP.InitCmdData.__doc__,
                         "InitCmdData(*args, **kwargs)\nOverloaded function.\n\n"
                         "1. InitCmdData(self: robot_interface.UDP, arg0: TORVANE::HighCmd) -> None\n\n"
                         "2. InitCmdData(self: robot_interface.UDP, arg0: TORVANE::LowCmd) -> None\n")
        self.assertEqual(ri.Safety.PowerProtect.__doc__,
                         "PowerProtect(self: robot_interface.Safety, arg0: TORVANE::LowCmd, "
                         "arg1: TORVANE::LowState, arg2: int) -> int\n")
        self.assertIsNone(ri.UDP.__doc__)

    def test_bools_and_floats_second_pass(self):
        udp = server()
        udp.SetDisconnectTime(1, 2)  # ints for floats
        udp.SetAccessibleTime(True, 0.5)
        with self.assertRaises(TypeError):
            udp.SetRecvTimeout(2.0)
        with self.assertRaises(TypeError):
            udp.SetRecvTimeout(2 ** 31)
        udp.SetRecvTimeout(-2 ** 31)

    def test_records_are_passed_by_reference(self):
        peer = Peer()
        self.addCleanup(peer.close)
        udp, _ = endpoint(peer, 0xEE)
        cmd = ri.HighCmd()
        udp.InitCmdData(cmd)
        self.assertEqual(udp.SetSend(cmd), 0)
        udp.Send()
        self.assertEqual(cmd.crc, crc(peer.receive(), 31))
        low = ri.LowCmd()
        udp.InitCmdData(low)
        before = low.motorCmd[0].q, low.crc
        safety = ri.Safety(ri.Vesko)
        with sdk_output():
            safety.PositionLimit(low)
        self.assertEqual(low.motorCmd[0].q, 0.75)
        self.assertNotEqual(before[0], low.motorCmd[0].q)
        state = ri.LowState()
        state.motorState[0].q = 5.0
        with sdk_output() as out:
            self.assertEqual(safety.PositionProtect(low, state, 0.0), -1)
        self.assertTrue(out[0].startswith("FR 0\n"))
        self.assertEqual([m.mode for m in low.motorCmd[:12]], [0] * 12)
        self.assertEqual([m.mode for m in low.motorCmd[12:]], [10] * 8)

    def test_low_cmd_is_left_unchanged_by_set_send(self):
        peer = Peer()
        self.addCleanup(peer.close)
        udp, _ = endpoint(peer, 0xFF)
        cmd = ri.LowCmd()
        udp.InitCmdData(cmd)
        cmd.crc = 1234
        self.assertEqual(udp.SetSend(cmd), 0)
        self.assertEqual(cmd.crc, 1234)

    def test_get_recv_text_leaves_the_argument(self):
        peer = Peer()
        self.addCleanup(peer.close)
        udp, _ = endpoint(peer, 0xEE)
        image = bytes(range(256)) * 5
        self.assertIsNone(udp.GetRecv(image))
        self.assertEqual(image, bytes(range(256)) * 5)
        state = ri.HighState()
        state.mode = 9
        self.assertIsNone(udp.GetRecv(state))
        self.assertEqual(state.mode, 0)  # filled from the (still zero) receive copy

    def test_destruction_prints(self):
        with sdk_output() as out:
            safety = ri.Safety(ri.Pellix)
            del safety
        self.assertEqual(out[0], "End Safety.\n")
        with sdk_output() as out:
            ri.Safety(ri.LeggedType(9))
        self.assertEqual(out[0], "Legged Robot Type Error.\nEnd Safety.\n")


class Refusals(unittest.TestCase):
    """What the endpoint cannot take is refused before the SDK runs, and nothing changes."""

    def test_none_texts_raise_type_error(self):
        udp = server(defer=False)
        for call in (lambda: udp.SetSend(None), lambda: udp.GetRecv(None),
                     lambda: udp.SetIpPort(None, 9),
                     lambda: ri.UDP(0xEE, 0, None, 9)):
            with self.assertRaises(TypeError):
                call()

    def test_short_texts_raise_value_error(self):
        peer = Peer()
        self.addCleanup(peer.close)
        udp, _ = endpoint(peer, 0xEE)
        with self.assertRaises(ValueError) as caught:
            udp.SetSend(b"\xfe\xef\xee")
        self.assertIn("3 bytes", str(caught.exception))
        self.assertIn("129", str(caught.exception))
        with self.assertRaises(ValueError):
            udp.GetRecv(bytearray(1086))
        with self.assertRaises(ValueError):
            udp.SetSend("é" * 64)  # 128 bytes of UTF-8
        udp.Send()
        self.assertEqual(peer.receive(), bytes(129))  # nothing was staged
        # The command texts are short by nature and pass.
        self.assertEqual(udp.SetSend("[maskChkSum]"), 0)
        udp.Send()
        self.assertEqual(peer.receive(), bytes(125) + scrambled(0).to_bytes(4, "little"))

    def test_records_larger_than_the_endpoint_raise_value_error(self):
        peer = Peer()
        self.addCleanup(peer.close)
        low, _ = endpoint(peer, 0xFF)
        high, _ = endpoint(peer, 0xEE)
        cmd = ri.HighCmd()
        cmd.mode = 3
        # HighCmd (129) fits a 614-byte send buffer; HighState (1087) not an 807-byte copy.
        self.assertEqual(low.SetSend(cmd), 0)
        state = ri.HighState()
        state.mode = 4
        with self.assertRaises(ValueError) as caught:
            low.GetRecv(state)
        self.assertIn("HighState is 1087 bytes", str(caught.exception))
        self.assertEqual(state.mode, 4)
        with self.assertRaises(ValueError):
            high.SetSend(ri.LowCmd())
        self.assertEqual(high.GetRecv(ri.LowState()), None)  # 807 fits 1087
        with sdk_output():
            small = ri.UDP(unused_port(), "127.0.0.1", peer.port, 100, 100, False, ri.nonBlock)
        fresh = ri.HighCmd()
        with self.assertRaises(ValueError):
            small.SetSend(fresh)
        self.assertEqual(fresh.crc, 0)

    def test_exact_length_texts_pass(self):
        peer = Peer()
        self.addCleanup(peer.close)
        udp, _ = endpoint(peer, 0xEE)
        image = bytearray(129)
        image[0:3] = b"\xfe\xef\xee"
        self.assertEqual(udp.SetSend(image), 0)
        self.assertEqual(image[125:], bytes(4))  # the caller's object is never changed
        udp.Send()
        got = peer.receive()
        self.assertEqual(got[:125], bytes(image[:125]))
        self.assertEqual(int.from_bytes(got[125:], "little"), crc(got, 31))


if __name__ == "__main__":
    unittest.main()
