"""One Python control cycle through robot_interface on 127.0.0.1, the same steps as the C++
cycle benchmark, a 12-joint PD loop written per joint and with the lists taken once, and the
cost of each hot bound call. Writes JSON to the file given (standard output carries the SDK's
own messages).

    PYTHONPATH=build/bench/python python3.12 bench/python_cycle.py results.json [cycles]
"""

import json
import socket
import statistics
import struct
import sys
import time

import robot_interface as ri


def crc(data, words):
    value = 0xFFFFFFFF
    for k in range(words):
        (w,) = struct.unpack_from("<I", data, 4 * k)
        for b in range(31, -1, -1):
            top = value >> 31
            value = (value << 1) & 0xFFFFFFFF
            if top != (w >> b) & 1:
                value ^= 0x04C11DB7
    return value


def state_datagram(high):
    image = bytearray(1087 if high else 807)
    image[0:3] = bytes([0xFE, 0xEF, 0xEE if high else 0xFF])
    if not high:
        for leg in range(4):
            struct.pack_into("<f", image, 75 + 32 * (3 * leg + 1) + 1, 0.67)
            struct.pack_into("<f", image, 75 + 32 * (3 * leg + 2) + 1, -1.3)
    value = crc(bytes(image), (len(image) >> 2) - 1)
    if high:
        masked = value ^ 0x5B3D7E91
        value = ((masked >> 8) | (masked << 24)) & 0xFFFFFFFF
    struct.pack_into("<I", image, len(image) - 4, value)
    return bytes(image)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def per_call(fn, n):
    """Median seconds per call of fn() over five runs of n calls."""
    runs = []
    for _ in range(5):
        t = time.perf_counter()
        for _ in range(n):
            fn()
        runs.append((time.perf_counter() - t) / n)
    return statistics.median(runs)


def pd_loops(cmd, state, n):
    """One 12-joint PD step (five command fields per joint from two state fields), as users
    write it and with the two lists taken once: ns per step."""
    target = [0.0, 0.67, -1.3] * 4
    kp, kd = 80.0, 2.0

    def naive():
        for i in range(12):
            cmd.motorCmd[i].q = target[i]
            cmd.motorCmd[i].dq = 0.0
            cmd.motorCmd[i].Kp = kp
            cmd.motorCmd[i].Kd = kd
            cmd.motorCmd[i].tau = kp * (target[i] - state.motorState[i].q) - kd * state.motorState[i].dq

    def list_once():
        motors, joints = cmd.motorCmd, state.motorState
        for i in range(12):
            m, s = motors[i], joints[i]
            m.q = target[i]
            m.dq = 0.0
            m.Kp = kp
            m.Kd = kd
            m.tau = kp * (target[i] - s.q) - kd * s.dq

    # Alternating runs, so that both loops see the same machine; the ratio is the median of the
    # runs' ratios.
    runs = []
    for _ in range(7):
        pair = []
        for fn in (naive, list_once):
            t = time.perf_counter()
            for _ in range(n):
                fn()
            pair.append((time.perf_counter() - t) / n * 1e9)
        runs.append(pair)
    runs = runs[1:]  # the first pair warms up
    return {"naive": statistics.median(r[0] for r in runs),
            "list_once": statistics.median(r[1] for r in runs),
            "ratio": statistics.median(r[0] / r[1] for r in runs)}


def record_overloads(peer):
    """SetSend and GetRecv with each record, on an endpoint of its level, in alternating runs
    so that the low-level calls and the high-level ones see the same machine: ns per call, the
    fastest run (what the call costs, where a loaded machine only ever adds)."""
    low = ri.UDP(0xFF, 0, "127.0.0.1", peer.getsockname()[1])  # nothing is sent or received
    high = ri.UDP(0xEE, 0, "127.0.0.1", peer.getsockname()[1])
    low_cmd, low_state, high_cmd, high_state = ri.LowCmd(), ri.LowState(), ri.HighCmd(), ri.HighState()
    low.InitCmdData(low_cmd)
    high.InitCmdData(high_cmd)
    calls = {"SetSend(LowCmd)": lambda: low.SetSend(low_cmd),
             "SetSend(HighCmd)": lambda: high.SetSend(high_cmd),
             "GetRecv(LowState)": lambda: low.GetRecv(low_state),
             "GetRecv(HighState)": lambda: high.GetRecv(high_state)}
    runs = {name: [] for name in calls}
    for _ in range(11):
        for name, fn in calls.items():
            t = time.perf_counter()
            for _ in range(10000):
                fn()
            runs[name].append((time.perf_counter() - t) / 10000 * 1e9)
    return {name: min(r[1:]) for name, r in runs.items()}


def main():
    out_path = sys.argv[1]
    cycles = int(sys.argv[2]) if len(sys.argv) > 2 else 20000
    peer = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    peer.bind(("127.0.0.1", 0))
    results = {"cycle_ns": {}, "call_ns": {}}

    for level, high in (("low", False), ("high", True)):
        port = free_port()
        udp = ri.UDP(0xEE if high else 0xFF, port, "127.0.0.1", peer.getsockname()[1])
        image, client = state_datagram(high), ("127.0.0.1", port)
        send, take = peer.sendto, peer.recv
        if high:
            cmd, st = ri.HighCmd(), ri.HighState()
            udp.InitCmdData(cmd)

            def cycle():
                send(image, client)
                udp.SetSend(cmd)
                udp.Send()
                udp.Recv()
                udp.GetRecv(st)
                take(2048)
        else:
            cmd, st = ri.LowCmd(), ri.LowState()
            udp.InitCmdData(cmd)
            safety = ri.Safety(ri.Zorvan)
            for j, m in enumerate(cmd.motorCmd[:12]):
                m.q, m.Kp, m.Kd = (0.0, 0.67, -1.3)[j % 3], 80.0, 2.0
            send(image, client)  # the guard starts from a state the peer sent
            udp.Recv()
            udp.GetRecv(st)

            def cycle():
                send(image, client)
                safety.PositionLimit(cmd)
                safety.PowerProtect(cmd, st, 10)
                safety.PositionProtect(cmd, st, 0.0)
                udp.SetSend(cmd)
                udp.Send()
                udp.Recv()
                udp.GetRecv(st)
                take(2048)

        for _ in range(1000):
            cycle()
        results["cycle_ns"][level] = per_call(cycle, cycles) * 1e9

        # The Python floor: the same datagrams on a plain socket, and a copy of the state.
        raw = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        raw.bind(("127.0.0.1", 0))
        raw_port = raw.getsockname()[1]
        raw.connect(peer.getsockname())
        raw.setblocking(False)
        command = bytes(129 if high else 614)
        raw_client = ("127.0.0.1", raw_port)
        buffer = bytearray(len(image))

        def floor():
            send(image, raw_client)
            raw.send(command)
            raw.recv_into(buffer)
            bytes(buffer)
            take(2048)

        for _ in range(1000):
            floor()
        results.setdefault("floor_ns", {})[level] = per_call(floor, cycles) * 1e9
        raw.close()

        # The bound calls one at a time (Send and Recv with nothing to take are left to the
        # cycle: alone they measure the socket, not the binding).
        calls = {}
        if not high:
            calls.update({"Safety.PositionLimit": lambda: safety.PositionLimit(cmd),
                          "Safety.PowerProtect": lambda: safety.PowerProtect(cmd, st, 10),
                          "Safety.PositionProtect": lambda: safety.PositionProtect(cmd, st, 0.0),
                          "state.motorState[3].q": lambda: st.motorState[3].q,
                          "cmd.motorCmd[3].q = x": lambda: setattr(cmd.motorCmd[3], "q", 0.1)})
        if high:
            calls.update({"state.imu": lambda: st.imu,
                          "state.footPosition2Body": lambda: st.footPosition2Body})
        else:
            view = st.motorState[3]
            calls.update({"state.motorState": lambda: st.motorState,
                          "state.imu": lambda: st.imu,
                          "view.q (scalar property, for scale)": lambda: view.q})
        for name, fn in calls.items():
            results["call_ns"][name] = per_call(fn, 20000) * 1e9
        if not high:
            results["pd_loop_ns"] = pd_loops(cmd, st, cycles // 10)
        del udp
    results["call_ns"].update(record_overloads(peer))
    peer.close()
    with open(out_path, "w") as f:
        json.dump(results, f, indent=1)


if __name__ == "__main__":
    main()
