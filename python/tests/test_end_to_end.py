"""One exchange per protocol level over 127.0.0.1 against a peer written with plain sockets: the
peer builds and checks every datagram from the wire layout itself, with its own checksum."""

import struct
import unittest

import robot_interface as ri
from support import Peer, crc, endpoint, recv_published, stamp


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


class HighLevel(unittest.TestCase):
    def setUp(self):
        self.peer = Peer()
        self.addCleanup(self.peer.close)
        self.udp, self.port = endpoint(self.peer, 0xEE)

    def test_command_arrives_byte_exact(self):
        cmd = ri.HighCmd()
        self.udp.InitCmdData(cmd)
        cmd.mode, cmd.gaitType, cmd.speedLevel = 2, 1, 3
        cmd.footRaiseHeight, cmd.bodyHeight = 0.08, -0.02
        cmd.position = [1.5, -2.25]
        cmd.euler = [0.1, 0.2, -0.3]
        cmd.velocity = [0.4, -0.1]
        cmd.yawSpeed = 0.7
        cmd.bms.off = 0xA5
        cmd.led[3].b = 200
        cmd.wirelessRemote = bytes(range(100, 140))
        cmd.SN = [1, 2]
        cmd.reserve = 0xDEADBEEF
        self.assertEqual(self.udp.SetSend(cmd), 0)
        self.assertEqual(self.udp.Send(), 129)
        got = self.peer.receive()

        want = bytearray(129)
        struct.pack_into("<2BBB2I2IH", want, 0, 0xFE, 0xEF, 0xEE, 0, 1, 2, 0, 0, 0)
        struct.pack_into("<3B2f2f3f2ff", want, 22, 2, 1, 3, 0.08, -0.02, 1.5, -2.25,
                         0.1, 0.2, -0.3, 0.4, -0.1, 0.7)
        want[65] = 0xA5
        want[69 + 3 * 3 + 2] = 200
        want[81:121] = bytes(range(100, 140))
        struct.pack_into("<I", want, 121, 0xDEADBEEF)
        self.assertEqual(got, stamp(want))
        self.assertEqual(cmd.crc, crc(got, 31))

    def test_state_comes_back_field_exact(self):
        image = bytearray(1087)
        struct.pack_into("<2BBB2I2IH", image, 0, 0xFE, 0xEF, 0xEE, 7, 11, 12, 13, 14, 15)
        struct.pack_into("<4f3f3f3fb", image, 22, 1, 0, 0, 0.5, 0.1, 0.2, 0.3, 0, 0, 9.81,
                         0.01, 0.02, 0.03, -5)
        for i in range(20):
            struct.pack_into("<B7fb2I", image, 75 + 38 * i, i, i * 0.1, -i * 0.1, i * 1.5, i * 0.25,
                             i * 0.11, i * 0.12, i * 0.13, 30 + i, i, 2 * i)
        struct.pack_into("<4BiH2b2b10H", image, 835, 1, 2, 3, 88, -1500, 77, -3, 4, 5, -6,
                         *range(3000, 3010))
        struct.pack_into("<4h4h", image, 869, 10, 20, 30, 40, -1, -2, -3, -4)
        struct.pack_into("<BfBf3ff3ff4f", image, 885, 1, 0.5, 2, 0.09, 1.0, 2.0, 0.3, 0.28,
                         0.4, 0.0, 0.0, 0.6, 1.1, 1.2, 1.3, 1.4)
        for k in range(4):
            struct.pack_into("<3f", image, 943 + 12 * k, k, -k, 0.5 * k)
            struct.pack_into("<3f", image, 991 + 12 * k, 0.1 * k, 0, 0)
        image[1039:1079] = bytes(range(40))
        struct.pack_into("<I", image, 1079, 0xCAFEF00D)
        datagram = stamp(image, scramble=True)

        self.peer.send(datagram, self.port)
        self.assertEqual(recv_published(self.udp), 0)
        s = ri.HighState()
        self.udp.GetRecv(s)

        self.assertEqual((s.head, s.levelFlag, s.frameReserve, s.SN, s.version, s.bandWidth),
                         ([254, 239], 0xEE, 7, [11, 12], [13, 14], 15))
        self.assertEqual(s.imu.quaternion, [1, 0, 0, 0.5])
        self.assertEqual(s.imu.accelerometer, [0, 0, f32(9.81)])
        self.assertEqual(s.imu.temperature, -5)
        for i, m in enumerate(s.motorState):
            self.assertEqual((m.mode, m.q, m.ddq_raw, m.temperature, m.reserve),
                             (i, f32(i * 0.1), f32(i * 0.13), 30 + i, [i, 2 * i]))
        self.assertEqual((s.bms.SOC, s.bms.current, s.bms.cycle, s.bms.BQ_NTC, s.bms.MCU_NTC),
                         (88, -1500, 77, [-3, 4], [5, -6]))
        self.assertEqual(s.bms.cell_vol, list(range(3000, 3010)))
        self.assertEqual((s.footForce, s.footForceEst), ([10, 20, 30, 40], [-1, -2, -3, -4]))
        self.assertEqual((s.mode, s.progress, s.gaitType, s.footRaiseHeight),
                         (1, 0.5, 2, f32(0.09)))
        self.assertEqual(s.position, [1.0, 2.0, f32(0.3)])
        self.assertEqual((s.bodyHeight, s.velocity, s.yawSpeed),
                         (f32(0.28), [f32(0.4), 0.0, 0.0], f32(0.6)))
        self.assertEqual(s.rangeObstacle, [f32(v) for v in (1.1, 1.2, 1.3, 1.4)])
        self.assertEqual([(c.x, c.y, c.z) for c in s.footPosition2Body],
                         [(k, -k, 0.5 * k) for k in range(4)])
        self.assertEqual(s.footSpeed2Body[3].x, f32(0.3))
        self.assertEqual(s.wirelessRemote, list(range(40)))
        self.assertEqual((s.reserve, s.crc), (0xCAFEF00D, int.from_bytes(datagram[1083:], "little")))

    def test_plain_checksum_is_refused_unless_developer_mode(self):
        image = bytearray(1087)
        image[0:3] = b"\xfe\xef\xee"
        plain = stamp(image)
        self.peer.send(plain, self.port)
        self.assertEqual(recv_published(self.udp), -3)
        self.udp.SetSend("[openDiagMode]")
        self.peer.send(plain, self.port)
        self.assertEqual(recv_published(self.udp), 0)


class LowLevel(unittest.TestCase):
    def setUp(self):
        self.peer = Peer()
        self.addCleanup(self.peer.close)
        self.udp, self.port = endpoint(self.peer, 0xFF)

    def test_command_arrives_packed(self):
        cmd = ri.LowCmd()
        self.udp.InitCmdData(cmd)
        m = cmd.motorCmd[7]
        m.q, m.dq, m.tau, m.Kp, m.Kd = 0.5, -1.25, 0.999, 20.0, -0.5
        m.reserve = [1, 2, 3]
        cmd.motorCmd[8].tau = 200.0  # beyond the wire range: saturates
        cmd.bms.reserve = [9, 8, 7]
        cmd.wirelessRemote = bytes([0x11] * 40)
        self.assertEqual(self.udp.SetSend(cmd), 0)
        self.assertEqual(self.udp.Send(), 614)
        got = self.peer.receive()
        self.assertEqual(len(got), 614)
        self.assertEqual(got[:3], b"\xfe\xef\xff")
        for i in range(20):
            mode, q, dq, tau, kp, kd, *reserve = struct.unpack_from("<Bff3h3I", got, 22 + 27 * i)
            if i == 7:
                self.assertEqual((mode, q, dq, tau, kp, kd, reserve),
                                 (10, 0.5, -1.25, 255, 640, -8, [1, 2, 3]))
            elif i == 8:
                self.assertEqual(tau, 32767)
            else:
                self.assertEqual((mode, q, dq, tau, kp, kd), (10, f32(2146000000.0), 16000.0, 0, 0, 0))
        self.assertEqual(got[562:566], bytes([0, 9, 8, 7]))
        self.assertEqual(got[566:606], bytes([0x11] * 40))
        self.assertEqual(struct.unpack_from("<I", got, 610)[0], crc(got, 152))

    def test_state_comes_back_unpacked(self):
        image = bytearray(807)
        struct.pack_into("<2BBB2I2IH", image, 0, 0xFE, 0xEF, 0xFF, 1, 2, 3, 4, 5, 6)
        struct.pack_into("<4f3f3f3fb", image, 22, *range(13), 40)
        for i in range(20):
            struct.pack_into("<Bff2hff hb2I", image, 75 + 32 * i, i, 0.1 * i, 0.2 * i,
                             1000 - i, 256 * i - 1, 0.3 * i, 0.4 * i, -i, 20 + i, i, i + 1)
        struct.pack_into("<4BiH2b2b10B", image, 715, 1, 2, 3, 4, -5, 6, -7, 8, 9, -10,
                         *range(246, 256))
        struct.pack_into("<4h4hI", image, 739, 1, 2, 3, 4, 5, 6, 7, 8, 123456)
        image[759:799] = bytes(range(40))
        struct.pack_into("<I", image, 799, 77)
        self.peer.send(stamp(image), self.port)
        self.assertEqual(recv_published(self.udp), 0)

        s = ri.LowState()
        s.crc = 4242
        self.udp.GetRecv(s)
        self.assertEqual((s.head, s.levelFlag, s.frameReserve, s.SN, s.version, s.bandWidth),
                         ([254, 239], 0xFF, 1, [2, 3], [4, 5], 6))
        self.assertEqual((s.imu.quaternion, s.imu.rpy, s.imu.temperature),
                         ([0, 1, 2, 3], [10, 11, 12], 40))
        for i, m in enumerate(s.motorState):
            self.assertEqual((m.mode, m.q, m.dq, m.ddq, m.tauEst, m.q_raw, m.dq_raw, m.ddq_raw,
                              m.temperature, m.reserve),
                             (i, f32(0.1 * i), f32(0.2 * i), 1000.0 - i, (256 * i - 1) / 256,
                              f32(0.3 * i), f32(0.4 * i), float(-i), 20 + i, [i, i + 1]))
        self.assertEqual((s.bms.version_h, s.bms.current, s.bms.cycle, s.bms.BQ_NTC),
                         (1, -5, 6, [-7, 8]))
        self.assertEqual(s.bms.cell_vol, [32 * v for v in range(246, 256)])
        self.assertEqual((s.footForce, s.footForceEst, s.tick), ([1, 2, 3, 4], [5, 6, 7, 8], 123456))
        self.assertEqual((s.wirelessRemote, s.reserve), (list(range(40)), 77))
        self.assertEqual(s.crc, 4242)  # never written on receiving

    def test_scrambled_checksum_is_refused(self):
        image = bytearray(807)
        image[0:3] = b"\xfe\xef\xff"
        self.peer.send(stamp(image, scramble=True), self.port)
        self.assertEqual(recv_published(self.udp), -3)


if __name__ == "__main__":
    unittest.main()
