"""The smallest high-level loop: stand still for two seconds at 500 Hz, then print the state.

    torvane-sim --level high --port 8082 &
    python3.12 minimal_loop.py 8082              # PORT [ROBOT], default 8082 127.0.0.1

Exit status: 0 when a state arrived, 1 when none did, 2 for a bad command line.
"""

import socket
import sys

import robot_interface as ri
import torvane_link as tl

CYCLES, PERIOD = 1000, 0.002  # two seconds at 500 Hz, longer than a hand-over; [s]


def main(argv: list[str]) -> int:
    if len(argv) > 3:
        print("usage: minimal_loop.py [PORT [ROBOT]]", file=sys.stderr)
        return 2
    port = argv[1] if len(argv) > 1 else "8082"
    robot = argv[2] if len(argv) > 2 else "127.0.0.1"
    if not (port.isascii() and port.isdigit() and 1 <= int(port) <= 65535):
        print(f"minimal_loop: not a port (1..65535): {port}", file=sys.stderr)
        return 2
    try:
        socket.inet_pton(socket.AF_INET, robot)
    except OSError:
        print(f"minimal_loop: not an IPv4 address: {robot}", file=sys.stderr)
        return 2
    udp = ri.UDP(0xEE, 0, robot, int(port))  # high level, any local port, the robot's address
    cmd, state = ri.HighCmd(), ri.HighState()
    udp.InitCmdData(cmd)  # header and level flag; mode 0 and zero velocity: stand still
    states, loop = 0, tl.PeriodicLoop(PERIOD)  # 500 Hz, to absolute deadlines: no drift
    for _ in range(CYCLES):
        udp.SetSend(cmd)
        udp.Send()
        if udp.Recv() == 0:  # 0: a valid state was published; anything else: nothing new
            udp.GetRecv(state)
            states += 1
        loop.Wait()  # sleeps until this cycle's deadline
    if states == 0:
        print(f"minimal_loop: no valid high-level state from {robot}:{port}", file=sys.stderr)
        return 1
    x, y, _ = state.position
    print(f"minimal_loop: {states} states; body at x {x:.3f} m, y {y:.3f} m, "
          f"height {state.bodyHeight:.3f} m, yaw {state.imu.rpy[2]:.3f} rad", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
