"""Views of embedded records and record arrays: a new list per read, live views, parents kept
alive exactly as long as a view is held, and no memory that grows with the number of reads."""

import ctypes
import ctypes.util
import gc
import sys
import unittest
import weakref

import robot_interface as ri
from support import sdk_output

# (record class, view property, element class, elements; 0 = a single embedded record)
VIEWS = [
    (ri.LowState, "imu", ri.IMU, 0), (ri.LowState, "motorState", ri.MotorState, 20),
    (ri.LowState, "bms", ri.BmsState, 0), (ri.LowCmd, "motorCmd", ri.MotorCmd, 20),
    (ri.LowCmd, "bms", ri.BmsCmd, 0), (ri.HighState, "imu", ri.IMU, 0),
    (ri.HighState, "motorState", ri.MotorState, 20), (ri.HighState, "bms", ri.BmsState, 0),
    (ri.HighState, "footPosition2Body", ri.Cartesian, 4),
    (ri.HighState, "footSpeed2Body", ri.Cartesian, 4), (ri.HighCmd, "bms", ri.BmsCmd, 0),
    (ri.HighCmd, "led", ri.LED, 4),
]


def elements(record, name, count):
    value = getattr(record, name)
    return value if count else [value]


def heap_bytes():
    """Bytes in use on the C heap (the module's own allocations), or 0 where not reported."""
    try:
        libc = ctypes.CDLL(ctypes.util.find_library("c"))

        class Info(ctypes.Structure):
            _fields_ = [(n, ctypes.c_size_t) for n in ("arena", "ordblks", "smblks", "hblks",
                        "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks", "keepcost")]

        libc.mallinfo2.restype = Info
        return libc.mallinfo2().uordblks
    except (OSError, AttributeError):
        return 0


class Reads(unittest.TestCase):
    def test_every_read_is_a_new_list_of_views_of_the_right_slots(self):
        for cls, name, element, count in VIEWS:
            with self.subTest(cls=cls.__name__, name=name):
                record = cls()
                if count:
                    first, second = getattr(record, name), getattr(record, name)
                    self.assertIs(type(first), list)
                    self.assertIsNot(first, second)
                    self.assertEqual(len(first), count)
                    first[0] = None  # changes only that list
                    self.assertIsInstance(getattr(record, name)[0], element)
                for i, view in enumerate(elements(record, name, count)):
                    self.assertIs(type(view), element)
                    field = "temperature" if element in (ri.IMU, ri.MotorState) else \
                        {ri.BmsState: "SOC", ri.BmsCmd: "off", ri.MotorCmd: "mode",
                         ri.Cartesian: "x", ri.LED: "g"}[element]
                    setattr(view, field, i + 1)
                self.assertEqual([getattr(v, field) for v in elements(record, name, count)],
                                 list(range(1, max(count, 1) + 1)))

    def test_a_list_changed_outside_never_comes_back_changed(self):
        cmd = ri.LowCmd()
        for i, m in enumerate(cmd.motorCmd):
            m.mode = i
        for change in (lambda l: l.reverse(), lambda l: l.__setitem__(3, None),
                       lambda l: l.append(1), lambda l: l.clear(), lambda l: l.pop(),
                       lambda l: l.sort(key=id)):
            held = cmd.motorCmd
            change(held)
            del held
            again = cmd.motorCmd
            self.assertEqual([m.mode for m in again], list(range(20)))
        first = cmd.motorCmd
        self.assertIsNot(first, cmd.motorCmd)  # held, so the next read is another list

    def test_a_held_list_keeps_the_parent(self):
        parent = ri.HighState()
        gone = weakref.ref(parent)
        feet = parent.footSpeed2Body
        feet[2].z = 0.25
        del parent
        gc.collect()
        self.assertIsNotNone(gone())
        self.assertEqual(feet[2].z, 0.25)
        del feet
        gc.collect()
        self.assertIsNone(gone())

    def test_views_are_live_in_both_directions(self):
        cmd = ri.LowCmd()
        slots = cmd.motorCmd
        with sdk_output():
            ri.UDP(0, 614, 807, False, ri.nonBlock, True).InitCmdData(cmd)
        self.assertEqual([m.mode for m in slots], [10] * 20)  # taken before, read after
        cmd.motorCmd[7].Kp = 30.0
        self.assertEqual(slots[7].Kp, 30.0)
        cmd.motorCmd = [ri.MotorCmd()] * 20  # a whole write shows in the old views
        self.assertEqual(slots[7].Kp, 0.0)
        self.assertEqual(slots[7].mode, 0)
        h = ri.HighCmd()
        h.led[2].g = 7
        self.assertEqual(h.led[2].g, 7)

    def test_views_stay_valid_after_the_list_goes(self):
        state = ri.LowState()
        view = state.motorState[4]  # the list is gone at once
        for _ in range(3):
            state.motorState  # lists made and dropped around the held view
        view.q = 1.5
        self.assertEqual(state.motorState[4].q, 1.5)
        imu = state.imu
        state.imu.rpy = [1.0, 2.0, 3.0]
        self.assertEqual(imu.rpy, [1.0, 2.0, 3.0])

    def test_views_are_accepted_wherever_their_class_is(self):
        h = ri.HighCmd()
        h.led[1].r = 200
        h.led = [h.led[1]] * 4
        self.assertEqual([c.r for c in h.led], [200] * 4)
        low = ri.LowCmd()
        low.bms = ri.HighCmd().bms
        with self.assertRaises(TypeError):
            low.bms = ri.LowState().bms


class Lifetimes(unittest.TestCase):
    def test_a_view_keeps_its_parent_alive_and_no_longer(self):
        for cls, name, _, count in VIEWS:
            with self.subTest(cls=cls.__name__, name=name):
                parent = cls()
                gone = weakref.ref(parent)
                view = elements(parent, name, count)[-1]
                del parent
                gc.collect()
                self.assertIsNotNone(gone())
                churn = [cls() for _ in range(20)]  # would reuse the memory of a freed parent
                del churn
                self.assertIsNotNone(gone())
                del view
                gc.collect()
                self.assertIsNone(gone())

    def test_temporary_parent(self):
        m = ri.LowState().motorState[0]
        gc.collect()
        others = [ri.LowState() for _ in range(20)]
        for o in others:
            o.motorState[0].q = 9.0
        self.assertEqual(m.q, 0.0)
        m.q = 2.0
        self.assertEqual(m.q, 2.0)

    def test_parent_dies_after_the_last_of_several_views_in_any_order(self):
        for order in ((0, 1, 2), (2, 1, 0), (1, 0, 2)):
            with self.subTest(order=order):
                parent = ri.HighState()
                gone = weakref.ref(parent)
                held = [parent.motorState[3], parent.imu, parent.footSpeed2Body[1]]
                del parent
                for i in order:
                    self.assertIsNotNone(gone())
                    held[i] = None
                gc.collect()
                self.assertIsNone(gone())

    def test_parent_revived_while_a_view_keeps_it(self):
        parent = ri.LowCmd()
        gone = weakref.ref(parent)
        view = parent.motorCmd[0]
        del parent
        again = gone()  # the same parent, still whole
        again.motorCmd[0].q = 4.0
        self.assertEqual(view.q, 4.0)
        second = again.motorCmd[1]
        del again, view
        self.assertIsNotNone(gone())
        self.assertEqual(second.q, 0.0)
        del second
        gc.collect()
        self.assertIsNone(gone())

    def test_weak_references_to_views(self):
        parent = ri.LowState()
        gone = weakref.ref(parent)
        view = parent.motorState[2]
        watch = weakref.ref(view)
        del parent
        view.q = 3.0
        del view  # a view with a weak reference is destroyed, not kept
        gc.collect()
        self.assertIsNone(watch())
        self.assertIsNone(gone())
        parent = ri.LowState()
        watch = weakref.ref(parent.motorState[2])
        parent.motorState[2].q = 1.0
        if watch() is not None:
            self.assertEqual(watch().q, 1.0)
        del parent
        gc.collect()
        self.assertIsNone(watch())

    def test_code_run_while_a_parent_goes(self):
        # An element put into a list and a weak-reference callback both run during the parent's
        # deallocation; both take the parent up again through a weak reference and read it, and
        # the callback keeps a view.
        seen, kept = [], []

        def revive():
            p = gone()
            if p is not None:
                p.motorCmd[1].q = 7.0
                seen.append(p.motorCmd[1].q)

        class Probe:
            def __del__(self):
                revive()

        parent = ri.LowCmd()
        gone = weakref.ref(parent)
        held = parent.motorCmd
        held[0] = Probe()
        del held  # the list as read last now holds the probe
        watch = weakref.ref(parent.motorCmd[5], lambda _: (revive(), kept.append(gone().bms)))
        del parent
        gc.collect()
        self.assertEqual(seen, [7.0, 7.0])
        self.assertIsNone(watch())
        self.assertIsNotNone(gone())  # kept by the view the callback took
        self.assertEqual(gone().motorCmd[1].q, 7.0)
        kept[0].off = 3
        self.assertEqual(gone().bms.off, 3)
        kept.clear()
        gc.collect()
        self.assertIsNone(gone())

    def test_subclassed_parents(self):
        class MyState(ri.LowState):
            pass

        parent = MyState()
        gone = weakref.ref(parent)
        view = parent.motorState[1]
        parent.motorState[1].dq = 2.0
        del parent
        gc.collect()
        self.assertIsNotNone(gone())
        self.assertEqual(view.dq, 2.0)
        del view
        gc.collect()
        self.assertIsNone(gone())


class Memory(unittest.TestCase):
    def test_a_million_reads_keep_memory_flat(self):
        cmd, state, high = ri.LowCmd(), ri.LowState(), ri.HighState()
        kept = state.motorState[5]  # a view held throughout

        def run(rounds):
            for _ in range(rounds):
                for i in range(12):
                    cmd.motorCmd[i].q = state.motorState[i].q
                high.imu
                high.footPosition2Body

        run(2000)
        gc.collect()
        blocks, heap = sys.getallocatedblocks(), heap_bytes()
        run(1000000 // 26)  # 26 property reads a round
        gc.collect()
        self.assertLess(sys.getallocatedblocks() - blocks, 100)
        self.assertLess(heap_bytes() - heap, 64 * 1024)
        self.assertEqual(kept.q, 0.0)


if __name__ == "__main__":
    unittest.main()
