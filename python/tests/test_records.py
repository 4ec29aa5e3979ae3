import decimal
import gc
import math
import unittest
import weakref

import robot_interface as ri
from support import sdk_output

RECORDS = ("BmsCmd", "BmsState", "Cartesian", "IMU", "LED", "MotorState", "MotorCmd",
           "LowState", "LowCmd", "HighState", "HighCmd", "UDPState")


def deferred_udp():
    with sdk_output():
        return ri.UDP(0, 129, 1087, False, ri.nonBlock, True)


class Scalars(unittest.TestCase):
    def test_integer_fields_take_exactly_their_range(self):
        cases = [  # (record, field, lowest, highest)
            (ri.LowCmd(), "levelFlag", 0, 255),
            (ri.MotorState(), "temperature", -128, 127),
            (ri.HighCmd(), "bandWidth", 0, 65535),
            (ri.BmsState(), "current", -2147483648, 2147483647),
            (ri.LowState(), "tick", 0, 4294967295),
            (ri.UDPState(), "TotalCount", 0, 18446744073709551615),
        ]
        for record, field, low, high in cases:
            with self.subTest(field=field):
                setattr(record, field, low)
                self.assertEqual(getattr(record, field), low)
                setattr(record, field, high)
                for bad in (low - 1, high + 1, float(high), "1", None):
                    with self.assertRaises(TypeError):
                        setattr(record, field, bad)
                    self.assertEqual(getattr(record, field), high)

    def test_integer_conversions(self):
        cmd = ri.LowCmd()
        cmd.levelFlag = True
        self.assertEqual(cmd.levelFlag, 1)
        cmd.levelFlag = decimal.Decimal("3.7")  # int() of an object with the index protocol
        self.assertEqual(cmd.levelFlag, 3)
        with self.assertRaises(TypeError):
            cmd.levelFlag = 1.0

    def test_float_fields_round_to_float32(self):
        cmd = ri.HighCmd()
        cmd.bodyHeight = 0.1
        self.assertEqual(cmd.bodyHeight, 0.10000000149011612)
        cmd.bodyHeight = 1e39
        self.assertEqual(cmd.bodyHeight, math.inf)
        cmd.bodyHeight = -1e39
        self.assertEqual(cmd.bodyHeight, -math.inf)
        cmd.bodyHeight = math.nan
        self.assertTrue(math.isnan(cmd.bodyHeight))
        cmd.bodyHeight = 2
        self.assertEqual(cmd.bodyHeight, 2.0)
        with self.assertRaises(TypeError):
            cmd.bodyHeight = "1.0"

    def test_setter_error_names_the_signature(self):
        with self.assertRaises(TypeError) as caught:
            ri.LowCmd().levelFlag = 256
        self.assertIn("(): incompatible function arguments. The following argument types are "
                      "supported:\n    1. (self: robot_interface.LowCmd, arg0: int) -> None",
                      str(caught.exception))


class Arrays(unittest.TestCase):
    def test_whole_array_writes_are_all_or_nothing(self):
        cmd = ri.HighCmd()
        cmd.position = [0.5, 0]
        self.assertEqual(cmd.position, [0.5, 0.0])
        for bad in ([0.5], [0.5, 0, 0], [0.5, None], {1.0, 2.0}, iter([1.0, 2.0]), "ab"):
            with self.assertRaises(TypeError):
                cmd.position = bad
            self.assertEqual(cmd.position, [0.5, 0.0])
        cmd.wirelessRemote = bytes(range(40))
        self.assertEqual(cmd.wirelessRemote, list(range(40)))
        cmd.wirelessRemote = range(40, 80)
        with self.assertRaises(TypeError):
            cmd.wirelessRemote = list(range(39)) + [256]  # the last element fails: nothing stored
        self.assertEqual(cmd.wirelessRemote, list(range(40, 80)))
        with self.assertRaises(TypeError):
            cmd.wirelessRemote = "x" * 40

    def test_reads_are_copies(self):
        h = ri.HighCmd()
        h.head[0] = 1
        self.assertEqual(h.head, [0, 0])
        h.head = (1, 2)
        self.assertEqual(h.head, [1, 2])

    def test_signed_element_ranges(self):
        b = ri.BmsState()
        b.BQ_NTC = [-128, 127]
        with self.assertRaises(TypeError):
            b.BQ_NTC = [-129, 0]
        self.assertEqual(b.BQ_NTC, [-128, 127])
        b.cell_vol = [65535] * 10
        with self.assertRaises(TypeError):
            b.cell_vol = [65536] * 10


class Views(unittest.TestCase):
    def test_embedded_record_is_a_live_view(self):
        cmd = ri.LowCmd()
        bms = cmd.bms
        bms.off = 1
        self.assertEqual(cmd.bms.off, 1)
        cmd.bms = ri.BmsCmd()  # copies the four bytes in
        self.assertEqual(bms.off, 0)
        with self.assertRaises(TypeError):
            cmd.bms = ri.BmsState()
        with self.assertRaises(TypeError):
            cmd.bms = None

    def test_record_arrays_are_lists_of_views(self):
        h = ri.HighCmd()
        h.led[2].g = 7
        self.assertEqual(h.led[2].g, 7)
        cmd = ri.LowCmd()
        slots = cmd.motorCmd
        slots[3].q = 0.5
        self.assertEqual(cmd.motorCmd[3].q, 0.5)
        slots[3] = ri.MotorCmd()  # changes only the list
        self.assertEqual(cmd.motorCmd[3].q, 0.5)
        h.led = [ri.LED()] * 4
        self.assertEqual([c.g for c in h.led], [0, 0, 0, 0])
        with self.assertRaises(TypeError):
            h.led = [ri.LED()] * 3
        with self.assertRaises(TypeError):
            h.led = [ri.LED(), ri.LED(), ri.LED(), ri.Cartesian()]

    def test_views_keep_the_parent_alive(self):
        m = ri.LowState().motorState[0]
        gc.collect()
        self.assertEqual(m.q, 0.0)
        parent = ri.HighState()
        ref = weakref.ref(parent) if hasattr(parent, "__weakref__") else None
        imu = parent.imu
        del parent
        gc.collect()
        imu.rpy = [1.0, 2.0, 3.0]
        self.assertEqual(imu.rpy, [1.0, 2.0, 3.0])
        if ref is not None:
            self.assertIsNotNone(ref())

    def test_view_reads_the_parent_at_that_moment(self):
        udp = deferred_udp()
        cmd = ri.LowCmd()
        first = cmd.motorCmd[19]
        udp.InitCmdData(cmd)
        self.assertEqual(first.mode, 10)
        self.assertEqual(first.q, 2146000000.0)
        self.assertEqual(first.dq, 16000.0)


class Classes(unittest.TestCase):
    def test_fresh_records_are_zero(self):
        cmd = ri.LowCmd()
        self.assertEqual(cmd.head, [0, 0])
        self.assertEqual(cmd.levelFlag, 0)
        self.assertTrue(all(m.q == 0.0 for m in cmd.motorCmd))
        udp = deferred_udp()
        udp.InitCmdData(cmd)
        self.assertEqual(cmd.head, [254, 239])
        self.assertEqual(cmd.levelFlag, 255)
        self.assertTrue(all(m.mode == 10 and m.q == 2146000000.0 and m.dq == 16000.0
                            for m in cmd.motorCmd))

    def test_no_attribute_dictionary(self):
        cmd = ri.HighCmd()
        with self.assertRaises(AttributeError):
            cmd.bodyheight = 1.0  # misspelt
        self.assertFalse(hasattr(cmd, "bodyheight"))
        with self.assertRaises(AttributeError):
            del cmd.bodyHeight

    def test_constructors_take_no_arguments(self):
        for name in RECORDS:
            cls = getattr(ri, name)
            self.assertEqual(cls.__module__, "robot_interface")
            self.assertEqual(cls.__qualname__, name)
            with self.assertRaises(TypeError):
                cls(1)

    def test_every_field_is_a_read_write_property(self):
        fields = {
            "HighCmd": ["head", "levelFlag", "frameReserve", "SN", "version", "bandWidth", "mode",
                        "gaitType", "speedLevel", "footRaiseHeight", "bodyHeight", "position",
                        "euler", "velocity", "yawSpeed", "bms", "led", "wirelessRemote",
                        "reserve", "crc"],
            "LowState": ["head", "levelFlag", "frameReserve", "SN", "version", "bandWidth", "imu",
                         "motorState", "bms", "footForce", "footForceEst", "tick",
                         "wirelessRemote", "reserve", "crc"],
            "MotorState": ["mode", "q", "dq", "ddq", "tauEst", "q_raw", "dq_raw", "ddq_raw",
                           "temperature", "reserve"],
            "BmsState": ["version_h", "version_l", "bms_status", "SOC", "current", "cycle",
                         "BQ_NTC", "MCU_NTC", "cell_vol"],
        }
        for name, expected in fields.items():
            cls = getattr(ri, name)
            props = [k for k, v in vars(cls).items() if isinstance(v, property)]
            self.assertEqual(props, expected)
            self.assertTrue(all(vars(cls)[k].fset is not None for k in props))

    def test_subclasses_work(self):
        class MyCmd(ri.LowCmd):
            pass

        cmd = MyCmd()
        deferred_udp().InitCmdData(cmd)
        self.assertEqual(cmd.levelFlag, 255)


if __name__ == "__main__":
    unittest.main()
