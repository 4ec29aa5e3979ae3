"""Regression tests for the hazards a robot engineer's code could reach from Python: each test
is named for the fault it guards, against real sockets on 127.0.0.1."""

import math
import struct
import unittest

import robot_interface as ri
from support import Peer, endpoint, free_port, sdk_output, stamp


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
            ri.UDP(free_port(), 614, 807, False, ri.nonBlock, True).InitCmdData(cmd)
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
