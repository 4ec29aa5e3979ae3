"""Low-level stand-up: bring the twelve leg joints from lying to a standing pose, with the
safety guard on every cycle, at 500 Hz.

Start the emulator first (or point --robot at a real one):
    torvane-sim --level low --port 8083
    python3.12 stand_up.py --robot 127.0.0.1 --port 8083
"""

import argparse
import time

import robot_interface as ri

RATE = 500
STAND = [0.0, 0.67, -1.3] * 4  # hip, thigh, calf for FR, FL, RR, RL [rad]
KP, KD = 80.0, 2.0
RISE_S, HOLD_S = 2.0, 1.0
OUTCOMES = {0: "ok", -1: "empty or bad header", -2: "timed out", -3: "bad checksum",
            -4: "no peer", 1: "client dropped"}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--robot", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=8083)
    parser.add_argument("--local-port", type=int, default=8084)
    parser.add_argument("--model", default="Zorvan", choices=list(ri.LeggedType.__members__))
    args = parser.parse_args()

    udp = ri.UDP(0xFF, args.local_port, args.robot, args.port)
    safety = ri.Safety(ri.LeggedType.__members__[args.model])
    cmd, state = ri.LowCmd(), ri.LowState()
    udp.InitCmdData(cmd)  # every motor: mode 10, stop values, zero gains: holds nothing

    period = 1.0 / RATE
    tally, start_pose, trips = {}, None, 0
    deadline = time.perf_counter()
    cycles = round((RISE_S + HOLD_S) * RATE)
    for i in range(cycles):
        # 1. Read the latest state first: the pose to start from, and what the guard checks.
        udp.SetSend(cmd)
        udp.Send()
        result = udp.Recv()
        tally[result] = tally.get(result, 0) + 1
        if result == 0:
            udp.GetRecv(state)
        motors = state.motorState  # one list of views per cycle, not one per joint
        if start_pose is None and result == 0:
            start_pose = [m.q for m in motors[:12]]

        # 2. Interpolate from where the legs were to the stand pose, then hold it.
        if start_pose is not None:
            a = min(1.0, i * period / RISE_S)
            for j, m in enumerate(cmd.motorCmd[:12]):
                m.q = (1 - a) * start_pose[j] + a * STAND[j]
                m.dq, m.Kp, m.Kd, m.tau = 0.0, KP, KD, 0.0

        # 3. The guard, once there is a state to check: clamp the targets, then cut the leg
        #    motors (mode 0) on over-power or a joint out of range. A cut stays cut.
        if start_pose is not None:
            safety.PositionLimit(cmd)
            if (safety.PowerProtect(cmd, state, 10) < 0
                    or safety.PositionProtect(cmd, state, 0.087) < 0):
                trips += 1

        deadline += period
        time.sleep(max(0.0, deadline - time.perf_counter()))

    motors = state.motorState
    errors = [abs(STAND[j] - motors[j].q) for j in range(12)]
    print("stood up; final joint errors [rad]:")
    for leg, name in enumerate(("FR", "FL", "RR", "RL")):
        hip, thigh, calf = errors[3 * leg:3 * leg + 3]
        print(f"  {name}: hip {hip:.3f}  thigh {thigh:.3f}  calf {calf:.3f}")
    print(f"largest error {max(errors):.3f} rad, safety trips {trips}")
    print("receive outcomes: " + ", ".join(f"{OUTCOMES.get(k, k)} {v}" for k, v in sorted(tally.items())))


if __name__ == "__main__":
    main()
