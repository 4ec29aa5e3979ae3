"""The cycle's calls take their common arguments on a fixed-cost path and leave the rest to the
binding library: both paths choose the same overload, give the same results and raise the same
errors, and the functions look as the library made them."""

import unittest

import robot_interface as ri
from support import Peer, crc, endpoint, sdk_output

HOT = {ri.UDP: ("Send", "Recv", "InitCmdData", "SetSend", "GetRecv"),
       ri.Safety: ("PositionLimit", "PowerProtect", "PositionProtect")}
VIEW_GETTERS = {
    (ri.LowCmd, "motorCmd"): "Annotated[list[robot_interface.MotorCmd], FixedSize(20)]",
    (ri.LowState, "imu"): "robot_interface.IMU",
    (ri.HighCmd, "led"): "Annotated[list[robot_interface.LED], FixedSize(4)]",
}


class Face(unittest.TestCase):
    def test_methods_look_as_the_library_made_them(self):
        for cls, names in HOT.items():
            for name in names:
                with self.subTest(name=name):
                    member = vars(cls)[name]
                    self.assertEqual(type(member).__name__, "instancemethod")
                    function = getattr(cls, name)
                    self.assertEqual(function.__name__, name)
                    self.assertEqual(function.__module__, "robot_interface")
                    self.assertIn("pybind11_function_record_capsule", repr(function.__self__))
                    self.assertTrue(function.__doc__.startswith(name + "("))
        self.assertEqual(ri.UDP.GetRecv.__doc__,
                         "GetRecv(*args, **kwargs)\nOverloaded function.\n\n"
                         "1. GetRecv(self: robot_interface.UDP, arg0: str) -> None\n\n"
                         "2. GetRecv(self: robot_interface.UDP, arg0: TORVANE::HighState) -> None\n\n"
                         "3. GetRecv(self: robot_interface.UDP, arg0: TORVANE::LowState) -> None\n")

    def test_view_getters_keep_signature_setter_and_order(self):
        for (cls, name), result in VIEW_GETTERS.items():
            with self.subTest(name=name):
                prop = vars(cls)[name]
                self.assertIsInstance(prop, property)
                self.assertEqual(prop.__doc__, "")
                self.assertEqual(prop.fget.__doc__,
                                 f"(self: robot_interface.{cls.__name__}) -> {result}\n")
                self.assertIn(f"arg0: {result}) -> None", prop.fset.__doc__)
        with self.assertRaises(TypeError) as caught:
            vars(ri.LowCmd)["motorCmd"].fget(ri.HighCmd())  # a wrong object: the library's error
        self.assertIn("(): incompatible function arguments", str(caught.exception))


class SamePaths(unittest.TestCase):
    def setUp(self):
        self.peer = Peer()
        self.addCleanup(self.peer.close)

    def test_subclassed_records_reach_the_same_overloads(self):
        class MyCmd(ri.HighCmd):
            pass

        class MyState(ri.LowState):
            pass

        udp, _ = endpoint(self.peer, 0xEE)
        plain, mine = ri.HighCmd(), MyCmd()
        for cmd in (plain, mine):
            udp.InitCmdData(cmd)
            cmd.mode = 2
            self.assertEqual(udp.SetSend(cmd), 0)
            udp.Send()
            self.assertEqual(cmd.crc, crc(self.peer.receive(), 31))
        self.assertEqual(plain.crc, mine.crc)
        state = MyState()
        state.tick = 5
        low, _ = endpoint(self.peer, 0xFF)
        self.assertIsNone(low.GetRecv(state))
        self.assertEqual(state.tick, 0)  # filled from the (still zero) receive copy

    def test_converted_arguments_still_pass(self):
        with sdk_output():
            safety = ri.Safety(ri.Vesko)
        state = ri.LowState()
        state.motorState[2].q = 5.0  # out of range: PositionProtect trips
        results = []
        for factor, limit in ((10, 0.0), (True, 0), (10, False)):  # exact, then converted
            cmd = ri.LowCmd()
            with sdk_output():
                ri.UDP(0, 614, 807, False, ri.nonBlock, True).InitCmdData(cmd)
                results.append((safety.PowerProtect(cmd, state, factor),
                                safety.PositionProtect(cmd, state, limit),
                                [m.mode for m in cmd.motorCmd]))
        self.assertEqual(results[0], (1, -1, [0] * 12 + [10] * 8))
        self.assertEqual(results[1], results[0])
        self.assertEqual(results[2], results[0])
        with sdk_output():
            del safety

    def test_refusals_are_the_librarys(self):
        with sdk_output():
            safety = ri.Safety(ri.Vesko)
        udp, _ = endpoint(self.peer, 0xFF)
        cmd, state = ri.LowCmd(), ri.LowState()
        calls = [
            lambda: safety.PowerProtect(cmd, state, 2 ** 31),  # beyond int32
            lambda: safety.PowerProtect(cmd, state, 1.0),  # a float for the int
            lambda: safety.PositionProtect(cmd, state, "0"),
            lambda: safety.PositionLimit(state),  # the wrong record
            lambda: safety.PositionLimit(cmd=cmd),  # keywords
            lambda: udp.SetSend(cmd, cmd),  # one argument too many
            lambda: udp.GetRecv(None),
            lambda: udp.Send(1),
            lambda: ri.UDP.SetSend(safety, cmd),  # not an endpoint
            lambda: ri.UDP.Recv(cmd),
        ]
        for call in calls:
            with self.assertRaises(TypeError) as caught:
                call()
            self.assertIn("(): incompatible function arguments. The following argument types are "
                          "supported:", str(caught.exception))
        self.assertEqual(cmd.motorCmd[0].mode, 0)  # nothing ran
        with self.assertRaises(ValueError):
            udp.GetRecv(ri.HighState())  # 1087 bytes from an 807-byte copy
        with sdk_output():
            del safety


if __name__ == "__main__":
    unittest.main()
