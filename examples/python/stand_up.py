"""Low-level stand-up: bring the twelve leg joints from where they lie to a standing pose, with
the safety guard on every cycle, at 500 Hz.

Start the emulator first (or point --robot at a real one):
    torvane-sim --level low --port 8083
    python3.12 stand_up.py --robot 127.0.0.1 --port 8083

Exit status: 0 when every leg joint ends within 0.1 rad of the pose; 1 when nothing answered,
the link was lost, the guard switched the motors off or a joint missed (one line says which); 2
for a bad command line; 130 (143) after Ctrl-C (SIGTERM), which first sends a damping-only command.
"""

import argparse

import robot_interface as ri
from robot_link import INTERRUPTED, Link, Stop, add_link_arguments, run

RATE = 500  # cycles per second
STAND = [0.0, 0.67, -1.3] * 4  # [rad] hip, thigh, calf for FR, FL, RR, RL (slots 0-11)
KP, KD = 80.0, 2.0  # stiffness [N m/rad] and damping [N m s/rad] while standing up
DAMPING = 3.0  # [N m s/rad] the last command when stopped: damping, no stiffness
RISE_S, HOLD_S = 2.0, 1.0
# [rad] a leg joint further off at the end fails the run. A PD hold under the body's weight
# sags by a few hundredths of a radian (the calves carry most: about 4 N m against KP 80).
TOLERANCE = 0.1
POWER_FACTOR = 10  # PowerProtect: the full power limit (factor 1..10 takes 10 % .. 100 %)
MARGIN = 0.087  # [rad] PositionProtect: trip 5 degrees inside each joint's range
LEGS = ("FR", "FL", "RR", "RL")


def stand_up(link: Link, safety: ri.Safety, cmd: ri.LowCmd, state: ri.LowState) -> int:
    start_pose = [m.q for m in state.motorState[:12]]
    print(f"stand_up: low-level link to {link.where()} up; standing up over {RISE_S:g} s",
          flush=True)
    cycles = round((RISE_S + HOLD_S) * RATE)
    for i in range(cycles):
        # 1. Interpolate from where the legs were to the stand pose, then hold it.
        a = min(1.0, i / (RISE_S * RATE))
        for j, m in enumerate(cmd.motorCmd[:12]):
            m.q = (1 - a) * start_pose[j] + a * STAND[j]
            m.dq, m.Kp, m.Kd, m.tau = 0.0, KP, KD, 0.0

        # 2. The guard: clamp the targets, then switch the leg motors off (mode 0) on over-power
        #    or a joint out of range. This example stops at the first trip.
        safety.PositionLimit(cmd)
        if (safety.PowerProtect(cmd, state, POWER_FACTOR) < 0
                or safety.PositionProtect(cmd, state, MARGIN) < 0):
            raise Stop(f"the safety guard switched the leg motors off at cycle {i} "
                       "(its own line above says why)", incident=True)

        # 3. Send, and take the latest state for the next cycle's guard.
        link.cycle(cmd, state)

    motors = state.motorState
    errors = [abs(STAND[j] - motors[j].q) for j in range(12)]
    print("stood up; final joint errors [rad]:")
    for leg, name in enumerate(LEGS):
        hip, thigh, calf = errors[3 * leg:3 * leg + 3]
        print(f"  {name}: hip {hip:.3f}  thigh {thigh:.3f}  calf {calf:.3f}")
    print(f"largest error {max(errors):.3f} rad (tolerance {TOLERANCE} rad)")
    print(link.outcomes())
    print(link.quality())
    worst = max(range(12), key=lambda j: errors[j])
    if errors[worst] > TOLERANCE:
        raise Stop(f"{LEGS[worst // 3]} {('hip', 'thigh', 'calf')[worst % 3]} ended "
                   f"{errors[worst]:.3f} rad from the pose; the tolerance is {TOLERANCE} rad")
    return 0


def main() -> int:
    parser = argparse.ArgumentParser(description=(__doc__ or "").splitlines()[0])
    add_link_arguments(parser, "low", 8083, 8084)
    parser.add_argument("--model", default="Zorvan", choices=list(ri.LeggedType.__members__),
                        help="robot model, for the guard's joint ranges (default Zorvan)")
    args = parser.parse_args()

    # A client of the low level: 614-byte packed commands out, 807-byte packed states in.
    link = Link("low", args, RATE)
    safety = ri.Safety(ri.LeggedType.__members__[args.model])
    cmd, state = ri.LowCmd(), ri.LowState()
    link.udp.InitCmdData(cmd)  # every motor: mode 10, stop values, zero gains: holds nothing
    try:
        link.first_state(cmd, state)
        return stand_up(link, safety, cmd, state)
    except (Stop, KeyboardInterrupt) as e:
        # Whatever ended the run, the last commands only damp the legs: no stiffness, no torque.
        link.udp.InitCmdData(cmd)
        for m in cmd.motorCmd[:12]:
            m.Kd = DAMPING
        link.send_final(cmd, state)
        if isinstance(e, Stop):
            raise link.reported(e) from None  # a lost link or a guard trip: its flight record
        raise Stop("interrupted; sent a damping-only command (no stiffness)",
                   INTERRUPTED) from None


if __name__ == "__main__":
    run(main)
