"""The control loop's helpers: LinkMonitor, PeriodicLoop, HighFlightRecorder and
LowFlightRecorder."""

from typing import Callable, ClassVar, Optional

import robot_interface

def MonotonicSeconds() -> float:
    """The monotonic clock (CLOCK_MONOTONIC) in seconds; the time to give the recorders."""

class LinkEvent:
    """What the link did: lost, or restored after a loss."""

    Lost: ClassVar[LinkEvent]
    Restored: ClassVar[LinkEvent]
    __members__: ClassVar[dict[str, LinkEvent]]
    def __init__(self, value: int) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __index__(self) -> int: ...
    def __int__(self) -> int: ...
    def __ne__(self, other: object) -> bool: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

class LinkMonitor:
    """Link quality from each cycle's Recv result, counted in cycles of the period."""

    def __init__(self, period_s: float, lost_after_s: float = 0.1) -> None:
        """period_s: the loop's period [s]; lost_after_s: seconds without a valid state after
        which the link counts as lost (at least one cycle)."""
    def Update(self, recv_result: int) -> bool:
        """One cycle: Recv's result (0 = a valid state). Returns True while the link is lost."""
    def SetCallback(
        self, callback: Optional[Callable[[LinkEvent, LinkMonitor], object]]
    ) -> None:
        """callback(event, monitor) on each LinkEvent, called from Update; None for none."""
    def Reset(self) -> None:
        """Back to the state of a new monitor."""
    def CyclesSinceValid(self) -> int:
        """Cycles since the last valid state (all cycles so far if none came yet)."""
    def SecondsSinceValid(self) -> float:
        """CyclesSinceValid() times the period [s]."""
    def SuccessRate(self) -> float:
        """Share of the last second's cycles with a valid state, 0 to 1 (1 before any cycle)."""
    def LongestGapCycles(self) -> int:
        """The longest run of cycles without a valid state, the current one included."""
    def LongestGapSeconds(self) -> float:
        """LongestGapCycles() times the period [s]."""
    def Lost(self) -> bool:
        """True from the loss until the next valid state."""
    def Cycles(self) -> int:
        """Cycles so far."""
    def ValidCycles(self) -> int:
        """Cycles with a valid state so far."""
    def LostEvents(self) -> int:
        """How often the link was lost so far."""
    def Period(self) -> float:
        """The period [s]."""
    def LostAfterCycles(self) -> int:
        """Cycles without a valid state after which the link counts as lost."""
    def WindowCycles(self) -> int:
        """Cycles in the success rate's window (one second)."""

class PeriodicLoop:
    """Sleeps to absolute deadlines on the monotonic clock; an overrunning cycle is followed at
    once and the deadlines are laid anew, never caught up."""

    def __init__(self, period_s: float) -> None:
        """period_s: above 0 and at most 3600 [s]."""
    def Start(self) -> None:
        """Lays the deadlines from now: the first Wait sleeps one period. Counters restart."""
    def Wait(self) -> bool:
        """Ends a cycle: sleeps until its deadline (the interpreter lock released) and returns
        True, or returns False at once after an overrun."""
    def Run(
        self,
        body: Callable[[], object],
        cycles: int = 0,
        every: int = 0,
        slow: Optional[Callable[[], object]] = None,
    ) -> int:
        """Runs body() once a period for `cycles` cycles (0: until body returns False), and
        slow() before the body every `every` cycles. Returns the cycles run."""
    def Period(self) -> float:
        """The period [s]."""
    def Cycles(self) -> int:
        """Waits since Start."""
    def Overruns(self) -> int:
        """Cycles whose body ended after their deadline."""
    def MissedDeadlines(self) -> int:
        """Deadlines skipped by overruns beyond the overrunning cycle's own."""
    def LastPeriodError(self) -> float:
        """The last wake-up's time since the one before, minus the period [s]."""
    def LastLateness(self) -> float:
        """How late after its deadline the last wake-up came [s]."""
    def MaxLateness(self) -> float:
        """The largest lateness since Start [s]."""

class HighFlightRecorder:
    """The last seconds of a high-level loop (HighCmd, HighState)."""

    def __init__(self, seconds: float = 2.0, rate_hz: float = 500.0) -> None:
        """Keeps the last `seconds` of a loop running at `rate_hz`."""
    def Record(
        self,
        time_s: float,
        cmd: robot_interface.HighCmd,
        recv_result: int,
        state: robot_interface.HighState,
    ) -> None:
        """One cycle: its time [s], the command as sent, Recv's result, the state as received."""
    def WriteCsv(self, path: str) -> None:
        """Writes the entries, oldest first, as CSV with a header row; OSError if it cannot."""
    def WriteCsvInDirectory(self, directory: str) -> str:
        """Writes the CSV into a new file flight-<level>-<local date and time>.csv in the
        directory and returns its path; OSError if it cannot."""
    def Clear(self) -> None:
        """Forgets every entry."""
    def Size(self) -> int:
        """Entries kept."""
    def Capacity(self) -> int:
        """Entries the ring holds."""
    def Recorded(self) -> int:
        """Cycles recorded since construction."""

class LowFlightRecorder:
    """The last seconds of a low-level loop (LowCmd, LowState)."""

    def __init__(self, seconds: float = 2.0, rate_hz: float = 500.0) -> None:
        """Keeps the last `seconds` of a loop running at `rate_hz`."""
    def Record(
        self,
        time_s: float,
        cmd: robot_interface.LowCmd,
        recv_result: int,
        state: robot_interface.LowState,
    ) -> None:
        """One cycle: its time [s], the command as sent, Recv's result, the state as received."""
    def WriteCsv(self, path: str) -> None:
        """Writes the entries, oldest first, as CSV with a header row; OSError if it cannot."""
    def WriteCsvInDirectory(self, directory: str) -> str:
        """Writes the CSV into a new file flight-<level>-<local date and time>.csv in the
        directory and returns its path; OSError if it cannot."""
    def Clear(self) -> None:
        """Forgets every entry."""
    def Size(self) -> int:
        """Entries kept."""
    def Capacity(self) -> int:
        """Entries the ring holds."""
    def Recorded(self) -> int:
        """Cycles recorded since construction."""
