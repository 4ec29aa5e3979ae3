"""Regression tests for the hazards a robot engineer's code could reach from Python: each test
is named for the fault it guards, against real sockets on 127.0.0.1."""

import math
import struct
import unittest

import robot_interface as ri
from support import Peer, endpoint, unused_port, sdk_output, stamp


def low_state(seed: int) -> bytes:
    """A valid low-level state datagram whose tick carries `seed`."""
    image = bytearray(807)
    image[0:3] = b"\xfe\xef\xff"
    struct.pack_into("<I", image, 755, seed)
    return stamp(image)


class PackingSaturates(unittest.TestCase):
    def test_out_of_range_torque_and_gains_saturate_instead_of_wrapping(self):
        peer = Peer()
        self.addCleanup(peer.close)
        udp, _ = endpoint(peer, 0xFF)
        cmd = ri.LowCmd()
        udp.InitCmdData(cmd)
        cases = [  # tau, Kp, Kd -> what the robot reads
            ((128.0, 1100.0, 2100.0), (32767, 32767, 32767)),
            ((200.0, 0.0, 0.0), (32767, 0, 0)),
            ((-200.0, -1100.0, -2100.0), (-32768, -32768, -32768)),
            ((127.99609375, 1023.96875, 2047.9375), (32767, 32767, 32767)),
            ((math.inf, -math.inf, math.nan), (32767, -32768, 0)),
            ((-0.999, 20.0, 0.5), (-255, 640, 8)),
        ]
        for slot, (values, _) in enumerate(cases):
            m = cmd.motorCmd[slot]
            m.tau, m.Kp, m.Kd = values
        self.assertEqual(udp.SetSend(cmd), 0)
        self.assertEqual(udp.Send(), 614)
        wire = peer.receive()
        for slot, (values, expected) in enumerate(cases):
            with self.subTest(values=values):
                self.assertEqual(struct.unpack_from("<3h", wire, 22 + 27 * slot + 9), expected)


class GuardFailsClosed(unittest.TestCase):
    def test_nan_target_switches_leg_motors_off(self):
        cmd = ri.LowCmd()
        with sdk_output():
            ri.UDP(unused_port(), 614, 807, False, ri.nonBlock, True).InitCmdData(cmd)
        motors = cmd.motorCmd
        for s in range(20):
            motors[s].q = 0.0
        motors[4].q = math.nan
        with sdk_output() as out:
            safety = ri.Safety(ri.Vesko)
            safety.PositionLimit(cmd)
            del safety
        self.assertEqual(out[0], "Error: Position Limit: NaN target in leg slot(s) 4; leg motors "
                                 "off.\nEnd Safety.\n")
        modes = [m.mode for m in cmd.motorCmd]
        self.assertEqual(modes, [0] * 12 + [10] * 8)
        self.assertTrue(math.isnan(cmd.motorCmd[4].q))
        self.assertAlmostEqual(cmd.motorCmd[2].q, -0.6, places=6)  # clamped as always


def high_state(seed: int) -> bytes:
    """A valid high-level state datagram (scrambled checksum, as the robot sends it)."""
    image = bytearray(1087)
    image[0:3] = b"\xfe\xef\xee"
    struct.pack_into("<I", image, 8, seed)
    return stamp(image, scramble=True)


class Supervision(unittest.TestCase):
    def setUp(self):
        self.peer = Peer()
        self.addCleanup(self.peer.close)

    def test_each_endpoint_supervises_its_own_link(self):
        other = Peer()
        self.addCleanup(other.close)
        a, a_port = endpoint(self.peer, 0xEE)
        b, b_port = endpoint(other, 0xEE)
        with sdk_output():
            a.SetDisconnectTime(1.0, 5.0)  # the threshold is process-wide: 5 calls for both
            b.SetDisconnectTime(1.0, 5.0)
        other.send(high_state(0), b_port)
        self.assertEqual(b.Recv(), 0)
        for cycle in range(1, 6):
            self.peer.send(high_state(cycle), a_port)
            self.assertEqual(a.Recv(), 0)
            self.assertEqual(b.Recv(), -1)  # silent: a's datagrams do not keep it alive
        self.peer.send(high_state(6), a_port)
        self.assertEqual(a.Recv(), 0)
        with sdk_output() as out:
            self.assertEqual(b.Recv(), 1)
        self.assertIn("[UDP Disconnected] client!", out[0])
        self.assertEqual(b.Send(), 0)
        self.assertEqual(a.Send(), 129)
        self.assertEqual(len(self.peer.receive()), 129)

    def test_stray_datagram_teaches_a_server_nothing(self):
        stranger = Peer()
        self.addCleanup(stranger.close)
        port = unused_port()
        with sdk_output():
            server = ri.UDP(port, 129, 1087, False, ri.nonBlock, False)
        stranger.send(b"!", port)
        with sdk_output() as out:
            self.assertEqual(server.Recv(), -1)
        self.assertEqual(out[0], "")
        self.assertEqual(server.Send(), 0)
        self.peer.send(high_state(1), port)
        with sdk_output() as out:
            self.assertEqual(server.Recv(), 0)
        self.assertEqual(out[0], "[UDP Connected] client! Client IP:127.0.0.1 port:%d\n"
                         % self.peer.port)
        self.assertEqual(server.Send(), 129)
        self.assertEqual(len(self.peer.receive()), 129)
        stranger.sock.settimeout(0.0)
        with self.assertRaises(BlockingIOError):
            stranger.receive()

    def test_timed_client_that_keeps_answering_is_never_dropped(self):
        port = unused_port()
        with sdk_output():
            udp = ri.UDP(port, "127.0.0.1", self.peer.port, 614, 807, True, ri.blockTimeout)
            udp.SetDisconnectTime(0.01, 0.2)  # 20 calls
        cmd = ri.LowCmd()
        udp.InitCmdData(cmd)
        for cycle in range(60):
            with self.subTest(cycle=cycle):
                udp.SetSend(cmd)
                self.assertEqual(udp.Send(), 614)
                self.peer.receive()
                self.peer.send(low_state(cycle))
                self.assertEqual(udp.Recv(), 0)

    def test_timed_server_learns_its_client(self):
        port = unused_port()
        with sdk_output():
            server = ri.UDP(port, 129, 1087, False, ri.blockTimeout, False)
        self.peer.send(b"!", port)
        self.assertEqual(server.Recv(), -1)
        self.assertEqual(server.Send(), 0)
        self.peer.send(high_state(1), port)
        with sdk_output():
            self.assertEqual(server.Recv(), 0)
        self.assertEqual(server.Send(), 129)
        self.assertEqual(len(self.peer.receive()), 129)

    def test_port_zero_endpoint_keeps_its_port_after_a_drop(self):
        with sdk_output():
            udp = ri.UDP(0, "127.0.0.1", self.peer.port, 129, 1087, True, ri.blockTimeout)
            udp.SetDisconnectTime(1.0, 1.0)  # dropped on the second silent call
        udp.Send()
        self.peer.receive()  # the robot learns the port the system gave the endpoint
        udp.SetRecvTimeout(1)
        self.assertEqual(udp.Recv(), -2)
        with sdk_output():
            self.assertEqual(udp.Recv(), 1)
        for call in range(10):  # the relisten window
            self.peer.send(high_state(call))
            self.assertEqual(udp.Recv(), -4)
        self.peer.send(high_state(10))
        with sdk_output():
            self.assertEqual(udp.Recv(), 0)  # still heard on its port, and learned again
        self.assertEqual(udp.Send(), 129)
        self.assertEqual(len(self.peer.receive()), 129)
