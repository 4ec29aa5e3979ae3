"""High-level walk: a square of 1 m sides, at 500 Hz.

Start the emulator first (or point --robot at a real one):
    torvane-sim --level high --port 8082
    python3.12 walk_square.py --robot 127.0.0.1 --port 8082
"""

import argparse
import math
import time

import robot_interface as ri

RATE = 500  # cycles per second
SPEED = 0.5  # m/s forward
TURN = math.pi / 2  # rad/s: a quarter turn per second
OUTCOMES = {0: "ok", -1: "empty or bad header", -2: "timed out", -3: "bad checksum",
            -4: "no peer", 1: "client dropped"}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--robot", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=8082)
    parser.add_argument("--local-port", type=int, default=8081)
    args = parser.parse_args()

    # A client of the high level: 129-byte commands out, 1087-byte states in.
    udp = ri.UDP(0xEE, args.local_port, args.robot, args.port)
    cmd, state = ri.HighCmd(), ri.HighState()
    udp.InitCmdData(cmd)  # header and level flag; everything else starts at zero

    # The plan: four times (walk one side, then turn a quarter), as (seconds, mode, vx, yaw rate).
    plan = []
    for _ in range(4):
        plan += [(1.0 / SPEED, 2, SPEED, 0.0), (1.0, 2, 0.0, TURN), (0.3, 1, 0.0, 0.0)]

    tally = {}
    corners = []
    period = 1.0 / RATE
    deadline = time.perf_counter()
    for seconds, mode, vx, yaw_rate in plan:
        for _ in range(round(seconds * RATE)):
            # 1. Fill the command: mode 2 walks, mode 1 stands.
            cmd.mode = mode
            cmd.velocity = [vx, 0.0]
            cmd.yawSpeed = yaw_rate
            # 2. Stamp it and send it.
            udp.SetSend(cmd)
            udp.Send()
            # 3. Take the latest state, if a valid one came.
            result = udp.Recv()
            tally[result] = tally.get(result, 0) + 1
            if result == 0:
                udp.GetRecv(state)
            # 4. Keep the rate.
            deadline += period
            time.sleep(max(0.0, deadline - time.perf_counter()))
        if mode == 1:  # a corner reached
            x, y, _ = state.position
            corners.append((x, y, math.degrees(state.imu.rpy[2])))

    print("walked the square, corner by corner:")
    for i, (x, y, yaw) in enumerate(corners, 1):
        print(f"  corner {i}: x={x:+.2f} m  y={y:+.2f} m  heading={yaw:+6.1f} deg")
    print("receive outcomes: " + ", ".join(f"{OUTCOMES.get(k, k)} {v}" for k, v in sorted(tally.items())))


if __name__ == "__main__":
    main()
