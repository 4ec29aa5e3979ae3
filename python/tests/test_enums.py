import unittest

import robot_interface as ri
from robot_interface import LeggedType, RecvEnum


class Enumerations(unittest.TestCase):
    def test_exported_names_are_the_members(self):
        self.assertIs(ri.Tamrin, LeggedType.Tamrin)
        self.assertIs(ri.blockTimeout, RecvEnum.blockTimeout)
        for name in ("Zorvan", "Pellix", "Tamrin", "Vesko"):
            self.assertIs(getattr(ri, name), LeggedType.__members__[name])
        self.assertEqual(list(RecvEnum.__members__), ["nonBlock", "block", "blockTimeout"])
        self.assertEqual([int(v) for v in LeggedType.__members__.values()], [0, 1, 2, 3])

    def test_values_names_and_texts(self):
        self.assertEqual(int(LeggedType.Vesko), 3)
        self.assertEqual(RecvEnum.nonBlock.name, "nonBlock")
        self.assertEqual(RecvEnum.blockTimeout.value, 2)
        self.assertEqual(str(LeggedType.Pellix), "LeggedType.Pellix")
        self.assertEqual(repr(RecvEnum.block), "<RecvEnum.block: 1>")
        unnamed = LeggedType(7)
        self.assertEqual(unnamed.name, "???")
        self.assertEqual(int(unnamed), 7)
        self.assertEqual(LeggedType.__doc__, "Members:\n\n  Zorvan\n\n  Pellix\n\n  Tamrin\n\n  Vesko")
        self.assertEqual(hash(LeggedType.Tamrin), 2)
        self.assertEqual(LeggedType.Pellix.__getstate__(), 1)

    def test_range_of_the_underlying_type(self):
        LeggedType(-2147483648)
        with self.assertRaises(TypeError):
            LeggedType(2147483648)
        RecvEnum(4294967295)
        with self.assertRaises(TypeError):
            RecvEnum(-1)

    def test_scoped_compares_strictly_unscoped_by_value(self):
        self.assertFalse(LeggedType.Zorvan == 0)
        self.assertTrue(LeggedType.Zorvan != 0)
        self.assertTrue(LeggedType.Zorvan == LeggedType(0))
        self.assertFalse(LeggedType.Zorvan == RecvEnum.nonBlock)
        self.assertTrue(RecvEnum.nonBlock == 0)
        self.assertTrue(RecvEnum.block == 1)
        self.assertFalse(RecvEnum.block == None)  # noqa: E711
        self.assertTrue(RecvEnum.block != None)  # noqa: E711

    def test_no_ordering_and_no_bitwise_operators(self):
        for op in (lambda: LeggedType.Zorvan < LeggedType.Pellix,
                   lambda: RecvEnum.block > RecvEnum.nonBlock,
                   lambda: RecvEnum.block | RecvEnum.nonBlock,
                   lambda: LeggedType.Vesko & LeggedType.Vesko,
                   lambda: ~RecvEnum.block):
            with self.assertRaises(TypeError):
                op()


if __name__ == "__main__":
    unittest.main()
