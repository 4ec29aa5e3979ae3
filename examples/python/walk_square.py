"""High-level walk: a square (1 m sides by default, turning left), at 500 Hz, closed on the
position and heading the robot reports.

Start the emulator first (or point --robot at a real one):
    torvane-sim --level high --port 8082
    python3.12 walk_square.py --robot 127.0.0.1 --port 8082

Exit status: 0 when every corner lies within 0.05 m and 3 degrees of where it belongs; 1 when
nothing answered, the link was lost or a corner was missed (one line says which); 2 for a bad
command line; 130 (143) after Ctrl-C (SIGTERM), which first sends a standing command with zero velocity.
"""

import argparse
import math
import time

import robot_interface as ri
from robot_link import INTERRUPTED, Link, Stop, add_link_arguments, run, wrap

RATE = 500  # cycles per second
SPEED = 0.5  # [m/s] most forward or sideways speed asked for
TURN = math.pi / 2  # [rad/s] most yaw speed asked for
GAIN, YAW_GAIN = 3.0, 3.0  # [1/s] speed asked per metre, yaw speed per radian still to go
REACHED, TURNED = 0.02, math.radians(1.0)  # [m], [rad]: close enough to move on
TOLERANCE, HEADING_TOLERANCE = 0.05, 3.0  # [m], [deg]: a corner further off fails the run
SETTLE_S = 0.3  # [s] standing at each corner before it is measured
WALK, STAND = 2, 1  # HighCmd.mode: walk at the commanded velocity; stand still


def clamp(value: float, limit: float) -> float:
    return max(-limit, min(limit, value))


def pose(state: ri.HighState) -> tuple[float, float, float]:
    x, y, _ = state.position
    return x, y, state.imu.rpy[2]


def walk(link: Link, cmd: ri.HighCmd, state: ri.HighState, side: float) -> int:
    # Every target is taken relative to where the robot stood at the first valid state.
    x0, y0, yaw0 = pose(state)
    c, s = math.cos(yaw0), math.sin(yaw0)
    print(f"walk_square: high-level link to {link.where()} up; walking a {side:.2f} m square",
          flush=True)

    corners = []
    for k, (lx, ly) in enumerate([(side, 0.0), (side, side), (0.0, side), (0.0, 0.0)]):
        tx, ty = x0 + c * lx - s * ly, y0 + s * lx + c * ly
        heading = yaw0 + k * math.pi / 2

        # 1. Walk to the corner: speed toward it in the body frame, heading held.
        limit = time.monotonic() + 2 * side / SPEED + 4.0
        while True:
            x, y, yaw = pose(state)
            dx, dy = tx - x, ty - y
            if math.hypot(dx, dy) < REACHED:
                break
            if time.monotonic() > limit:
                raise Stop(f"corner {k + 1} not reached: still {math.hypot(dx, dy):.2f} m away "
                           f"after {2 * side / SPEED + 4.0:.0f} s; is the robot held back?")
            ex, ey = math.cos(yaw) * dx + math.sin(yaw) * dy, -math.sin(yaw) * dx + math.cos(yaw) * dy
            cmd.mode = WALK
            cmd.velocity = [clamp(GAIN * ex, SPEED), clamp(GAIN * ey, SPEED)]
            cmd.yawSpeed = clamp(YAW_GAIN * wrap(heading - yaw), TURN)
            link.cycle(cmd, state)

        # 2. Turn a quarter to the left, on the spot: a legged robot drifts as it turns, so the
        # corner is held as the heading is.
        heading += math.pi / 2
        limit = time.monotonic() + 4.0
        while abs(wrap(heading - pose(state)[2])) > TURNED:
            if time.monotonic() > limit:
                raise Stop(f"corner {k + 1}: the turn did not finish within 4 s")
            x, y, yaw = pose(state)
            dx, dy = tx - x, ty - y
            ex, ey = math.cos(yaw) * dx + math.sin(yaw) * dy, -math.sin(yaw) * dx + math.cos(yaw) * dy
            cmd.mode = WALK
            cmd.velocity = [clamp(GAIN * ex, SPEED), clamp(GAIN * ey, SPEED)]
            cmd.yawSpeed = clamp(YAW_GAIN * wrap(heading - yaw), TURN)
            link.cycle(cmd, state)

        # 3. Stand a moment, then measure the corner in the start frame.
        cmd.mode, cmd.velocity, cmd.yawSpeed = STAND, [0.0, 0.0], 0.0
        for _ in range(round(SETTLE_S * RATE)):
            link.cycle(cmd, state)
        x, y, yaw = pose(state)
        rx, ry = c * (x - x0) + s * (y - y0), -s * (x - x0) + c * (y - y0)
        corners.append((rx, ry, math.degrees(wrap(yaw - yaw0)),
                        math.hypot(rx - lx, ry - ly), math.degrees(wrap(yaw - heading))))

    print("walked the square, corner by corner (start frame):")
    for k, (x, y, yaw, off, off_deg) in enumerate(corners, 1):
        print(f"  corner {k}: x={x:+.2f} m  y={y:+.2f} m  heading={yaw:+6.1f} deg"
              f"  (off by {off:.3f} m, {off_deg:+.1f} deg)")
    print(link.outcomes())
    print(link.quality())
    for k, (_, _, _, off, off_deg) in enumerate(corners, 1):
        if off > TOLERANCE or abs(off_deg) > HEADING_TOLERANCE:
            raise Stop(f"corner {k} is {off:.3f} m and {off_deg:+.1f} deg off; the tolerance is "
                       f"{TOLERANCE} m and {HEADING_TOLERANCE:g} deg")
    return 0


def main() -> int:
    parser = argparse.ArgumentParser(description=(__doc__ or "").splitlines()[0])
    add_link_arguments(parser, "high", 8082, 8081)
    parser.add_argument("--side", type=float, default=1.0, help="side of the square [m]")
    args = parser.parse_args()
    if not 0.1 <= args.side <= 5.0:
        parser.error("--side must be 0.1 to 5 m")

    # A client of the high level: 129-byte commands out, 1087-byte states in.
    link = Link("high", args, RATE)
    cmd, state = ri.HighCmd(), ri.HighState()
    link.udp.InitCmdData(cmd)  # header and level flag; mode 0 and no motion asked for
    try:
        link.first_state(cmd, state)
        return walk(link, cmd, state, args.side)
    except (Stop, KeyboardInterrupt) as e:
        # Whatever ended the walk, the last commands ask the robot to stand still.
        cmd.mode, cmd.velocity, cmd.yawSpeed = STAND, [0.0, 0.0], 0.0
        link.send_final(cmd, state)
        if isinstance(e, Stop):
            raise link.reported(e) from None  # a lost link or a guard trip: its flight record
        raise Stop("interrupted; sent a standing command with zero velocity",
                   INTERRUPTED) from None


if __name__ == "__main__":
    run(main)
