"""What the Python examples share: a first contact that says what went wrong, a watch on the
link once it is up (a LinkMonitor), a loop that keeps time (a PeriodicLoop), the receive outcomes
in words, a flight record of the last seconds written when the link is lost or the guard trips,
and a safe last command when they stop.

An example ends in one of four ways, each with its exit status: its goal reached (0), a failure
said in one line on standard error (1: nothing answered, the link lost, the goal missed), a bad
command line (2), or Ctrl-C / SIGTERM after a final safe command (the process then ends by that
signal: 130 or 143 as a shell shows it).
"""

import argparse
import ipaddress
import math
import os
import signal
import socket
import sys
import time
from types import FrameType
from typing import Callable, Optional, Union

import robot_interface as ri
import torvane_link as tl

Command = Union[ri.HighCmd, ri.LowCmd]
State = Union[ri.HighState, ri.LowState]

FIRST_STATE_S = 1.5  # a robot answers at once; the emulator hands over within 1 s of silence
LOST_S = 1.0  # no valid state for this long once the link was up: the link is lost
FINAL_CYCLES = 10  # the safe command goes out this many times: one datagram may be lost
RECORD_S = 2.0  # the flight recorder keeps this many seconds

OUTCOMES = {0: "valid", -1: "nothing new or bad header", -2: "timed out", -3: "bad checksum",
            -4: "no peer", 1: "link dropped"}


class Stop(Exception):
    """Ends an example: `message` is its one line on standard error, `status` its exit status;
    an `incident` (the link lost, the guard tripped) also leaves a flight record."""

    def __init__(self, message: str, status: int = 1, incident: bool = False) -> None:
        super().__init__(message)
        self.status = status
        self.incident = incident


def check_local_port(local_port: int) -> None:
    """Refuses a local port that another program holds: the SDK would report the failed bind and
    go on from a port of the system's choosing, and two clients would fight over the robot."""
    probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        probe.bind(("0.0.0.0", local_port))
    except OSError as e:
        raise Stop(f"local port {local_port} is taken ({e.strerror}): is another copy running? "
                   "Choose another with --local-port") from None
    finally:
        probe.close()


def port_number(text: str) -> int:
    """argparse type: a UDP port, 1 to 65535."""
    value = int(text)
    if not 1 <= value <= 65535:
        raise ValueError(text)
    return value


port_number.__name__ = "port"  # argparse names the type in its message


def ipv4(text: str) -> str:
    """argparse type: an IPv4 address in dotted form (the SDK takes no names)."""
    return str(ipaddress.IPv4Address(text))


ipv4.__name__ = "IPv4 address"


def seconds(text: str) -> float:
    """argparse type: a time above 0 and at most an hour [s]."""
    value = float(text)
    if not 0 < value <= 3600:
        raise ValueError(text)
    return value


def default_record_dir() -> str:
    """Flight records go to the temporary directory unless --record-dir says otherwise: the
    examples are often run from a source tree or a read-only directory, and the one-line message
    names the file wherever it lands."""
    return os.environ.get("TMPDIR") or "/tmp"


def writable_directory(text: str) -> str:
    """argparse type: a directory this program can write into, checked before anything is sent
    so that the flight record wanted after an incident is not lost."""
    if not (text and os.path.isdir(text) and os.access(text, os.W_OK | os.X_OK)):
        raise argparse.ArgumentTypeError(
            f"not a directory this program can write into: {text or chr(34) * 2}")
    return text


def add_link_arguments(parser: argparse.ArgumentParser, level: str, port: int,
                       local_port: int) -> None:
    """The options every example takes: --robot, --port, --local-port, --wait, --record-dir."""
    parser.add_argument("--robot", type=ipv4, default="127.0.0.1",
                        help="robot's IPv4 address (default 127.0.0.1)")
    parser.add_argument("--port", type=port_number, default=port,
                        help=f"robot's {level}-level port (default {port})")
    parser.add_argument("--local-port", type=port_number, default=local_port,
                        help=f"this program's port (default {local_port})")
    parser.add_argument("--wait", type=seconds, default=FIRST_STATE_S,
                        help=f"seconds to wait for the first valid state (default {FIRST_STATE_S:g})")
    parser.add_argument("--record-dir", type=writable_directory, default=default_record_dir(),
                        metavar="DIR", help="where a flight record goes when the link is lost or "
                        f"the guard trips (default {default_record_dir()})")


class Link:
    """One UDP client of the robot at one level, paced at `rate` cycles per second."""

    def __init__(self, level: str, args: argparse.Namespace, rate: float) -> None:
        check_local_port(args.local_port)
        self.level, self.robot, self.port, self.rate = level, args.robot, args.port, rate
        self.wait: float = args.wait
        self.record_dir: str = args.record_dir
        self.udp = ri.UDP(0xEE if level == "high" else 0xFF, args.local_port, args.robot, args.port)
        self.tally: dict[int, int] = {}
        self.monitor = tl.LinkMonitor(1.0 / rate, LOST_S)
        self.loop = tl.PeriodicLoop(1.0 / rate)
        self.recorder: Union[tl.HighFlightRecorder, tl.LowFlightRecorder] = (
            tl.HighFlightRecorder(RECORD_S, rate) if level == "high"
            else tl.LowFlightRecorder(RECORD_S, rate))

    def where(self) -> str:
        return f"{self.robot}:{self.port}"

    def exchange(self, cmd: Command, state: State) -> bool:
        """Sends the command, takes the latest state; True if a valid one came. The monitor and
        the recorder see every cycle."""
        self.udp.SetSend(cmd)
        self.udp.Send()
        result = self.udp.Recv()
        self.tally[result] = self.tally.get(result, 0) + 1
        if result == 0:
            self.udp.GetRecv(state)
        self.monitor.Update(result)
        self.recorder.Record(tl.MonotonicSeconds(), cmd, result, state)  # type: ignore[arg-type]
        return result == 0

    def first_state(self, cmd: Command, state: State) -> None:
        """Sends `cmd` until the first valid state; Stop if none came within the wait."""
        self.loop.Start()
        start = time.monotonic()
        while time.monotonic() - start < self.wait:
            if self.exchange(cmd, state):
                self.monitor.Reset()  # the link is up: the wait for it is no gap in it
                return
            self.loop.Wait()
        other = "low" if self.level == "high" else "high"
        hint = (f"is torvane-sim running with --level {self.level} --port {self.port}, "
                "and no other client using it?")
        bad = self.tally.get(-3, 0)
        if bad:
            cause = f"{bad} datagrams failed the checksum (a {other}-level peer?): {hint}"
        else:
            cause = f"nothing answered: {hint}"
        raise Stop(f"no valid {self.level}-level state from {self.where()} within "
                   f"{self.wait:g} s; {cause}")

    def cycle(self, cmd: Command, state: State) -> None:
        """One paced cycle once the link is up; Stop when no valid state came for LOST_S."""
        self.exchange(cmd, state)
        if self.monitor.Lost():
            raise Stop(f"lost the link to {self.where()} ({self.level} level): no valid state "
                       f"for {LOST_S:g} s; did torvane-sim or the robot stop?", incident=True)
        self.loop.Wait()

    def send_final(self, cmd: Command, state: State) -> None:
        """Sends the safe command FINAL_CYCLES times; a second Ctrl-C cannot cut it short."""
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        for _ in range(FINAL_CYCLES):
            self.exchange(cmd, state)
            self.loop.Wait()

    def reported(self, stop: Stop) -> Stop:
        """After the safe command went out (a file takes longer to write than a robot should
        wait): an incident's Stop with the flight record written and named in its line."""
        if not stop.incident:
            return stop
        try:
            path = self.recorder.WriteCsvInDirectory(self.record_dir)
            where = f"flight record in {path}"
        except OSError as e:
            where = f"no flight record ({e})"
        return Stop(f"{stop}; {where}", stop.status)

    def outcomes(self) -> str:
        return "receive outcomes: " + ", ".join(
            f"{OUTCOMES.get(k, str(k))} {v}" for k, v in sorted(self.tally.items()))

    def quality(self) -> str:
        """The link's longest gap and last second, and the loop's overruns, in one line."""
        return (f"link: longest gap {self.monitor.LongestGapSeconds() * 1000:.0f} ms, "
                f"{self.monitor.SuccessRate() * 100:.0f}% of the last second's cycles had a "
                f"state; loop overruns {self.loop.Overruns()}")


def wrap(angle: float) -> float:
    """The angle in [-pi, pi)."""
    return (angle + math.pi) % (2 * math.pi) - math.pi


INTERRUPTED = 130  # Stop status of an interruption: the process then ends by the signal itself
_received = signal.SIGINT


def _terminate(signum: int, frame: Optional[FrameType]) -> None:
    global _received
    _received = signal.Signals(signum)
    raise KeyboardInterrupt


def run(main: Callable[[], int]) -> None:
    """Runs an example's main with SIGTERM taken as Ctrl-C, and ends the process with its status:
    a Stop as one line on standard error, an interruption before any command as one line too.
    An interrupted example ends by the signal that interrupted it, so that a calling shell or
    script stops as well (status 130 for Ctrl-C, 143 for SIGTERM, as a shell shows them)."""
    program = os.path.splitext(os.path.basename(sys.argv[0]))[0]
    signal.signal(signal.SIGTERM, _terminate)
    try:
        status = main()
    except Stop as stop:
        sys.stdout.flush()
        print(f"{program}: {stop}", file=sys.stderr)
        status = stop.status
    except KeyboardInterrupt:
        sys.stdout.flush()
        print(f"{program}: interrupted before the link was up; nothing was commanded",
              file=sys.stderr)
        status = INTERRUPTED
    sys.stdout.flush()
    sys.stderr.flush()
    if status == INTERRUPTED:
        signal.signal(_received, signal.SIG_DFL)
        os.kill(os.getpid(), _received)
    sys.exit(status)
