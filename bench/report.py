"""Writes docs/performance.md from one run's results (scripts/bench.sh calls it)."""

import datetime
import json
import os
import platform
import subprocess
import sys


def load(path):
    with open(path) as f:
        return json.load(f)


def medians(results):
    """{benchmark name without aggregate suffix: (real ns, counters)} from Google Benchmark JSON,
    the median where there are repetitions."""
    out = {}
    for b in results["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        name = b.get("run_name", b["name"])
        out[name] = (b["real_time"], b)
    return out


def cpu():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def main(checksum_json, cycle_json, python_json, out_path, compiler, call_json=None,
         helpers_json=None, loop_json=None):
    crc = medians(load(checksum_json))
    cycle = medians(load(cycle_json))
    py = load(python_json)
    lines = [
        "# Performance",
        "",
        f"Measured by `scripts/bench.sh` on {datetime.date.today()}: {cpu()}, "
        f"{os.cpu_count()} cores, Linux {platform.release()}, {compiler}, "
        f"Python {platform.python_version()}; Release build. Each figure stands beside a baseline "
        "measured in the same run: compare the ratios across machines, not the nanoseconds.",
        "",
        "## Packet checksum (ns per datagram)",
        "",
        "| datagram bytes | ours | table form | bitwise definition | zlib `crc32` | ours / zlib (goal ≤ 1.0) | ours / bitwise |",
        "|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for length in (129, 614, 807, 1087):
        ours = crc[f"BM_Crc_Ours/{length}"][0]
        table = crc[f"BM_Crc_Table/{length}"][0]
        bitwise = crc[f"BM_Crc_Bitwise/{length}"][0]
        zlib = crc[f"BM_Crc_Zlib/{length}"][0]
        lines.append(f"| {length} | {ours:.1f} | {table:.1f} | {bitwise:.0f} | {zlib:.1f} | "
                     f"{ours / zlib:.2f} | {ours / bitwise:.4f} |")
    lines += [
        "",
        "Ours folds 128-bit blocks with carry-less multiplication where the processor has it and",
        "falls back to the table form (slicing by eight) elsewhere; both are bit-exact with the",
        "bitwise definition. zlib covers the same bytes (its own reflected CRC, the same work).",
        "",
        "## One C++ cycle on 127.0.0.1 (ns, median of 5 runs)",
        "",
        "Low level: `PositionLimit`, `PowerProtect`, `PositionProtect`, `SetSend`, `Send`, `Recv`,",
        "`GetRecv`. High level: `SetSend`, `Send`, `Recv`, `GetRecv`. The raw floor sends and",
        "receives the same datagrams on a plain socket and copies the state. Both include the",
        "peer's part (send a state, take the command).",
        "",
        "| level | SDK | raw floor | SDK / floor (goal ≤ 1.25) | allocations per cycle (goal 0) |",
        "|---|---:|---:|---:|---:|",
    ]
    for level in ("Low", "High"):
        sdk, sdk_run = cycle[f"BM_Cycle_{level}_Sdk/repeats:5"]
        floor, _ = cycle[f"BM_Cycle_{level}_Floor/repeats:5"]
        allocs = sdk_run.get("allocs_per_cycle", float("nan"))
        ratio = f"{sdk / floor:.2f}" if floor > 0 else "n/a"
        lines.append(f"| {level.lower()} | {sdk:.0f} | {floor:.0f} | {ratio} | {allocs:g} |")
    lines += [
        "",
        "The SDK's draining `Recv` reads until the socket is empty, so it makes one receive call",
        "more than the floor (the one that finds nothing); that call is most of the difference.",
        "",
        "## One Python cycle through `robot_interface` (ns)",
        "",
        "| level | Python | C++ (above) | Python / C++ (goal ≤ 1.5) | Python plain-socket floor | Python / its floor |",
        "|---|---:|---:|---:|---:|---:|",
    ]
    for level in ("low", "high"):
        p = py["cycle_ns"][level]
        c = cycle[f"BM_Cycle_{level.title()}_Sdk/repeats:5"][0]
        f = py["floor_ns"][level]
        lines.append(f"| {level} | {p:.0f} | {c:.0f} | {p / c:.2f} | {f:.0f} | {p / f:.2f} |")
    lines += [
        "",
        "The Python peer's own socket calls are part of the Python figures, as the C++ peer's are",
        "of the C++ one; the plain-socket floor in Python shows how much of the cycle is the",
        "interpreter's own socket work rather than the binding.",
        "",
    ]
    pd = py.get("pd_loop_ns")
    if pd:
        lines += [
            "## A 12-joint PD step in Python (ns)",
            "",
            "Five command fields per joint from two state fields: written per joint",
            "(`cmd.motorCmd[i].q = ...`, seven record-array reads per joint) and with the two lists",
            "taken once per step. Alternating runs; the ratio is the median of the runs' ratios.",
            "",
            "| per joint | lists once | per joint / lists once (goal ≤ 1.5) |",
            "|---:|---:|---:|",
            f"| {pd['naive']:.0f} | {pd['list_once']:.0f} | {pd['ratio']:.2f} |",
            "",
            "A record-array read builds a new list of cached views; the rest of either loop is the",
            "scalar properties (`view.q` below), which both loops pay alike.",
            "",
        ]
    calls = medians(load(call_json)) if call_json else {}

    def cpp(name):
        for key, (ns, _) in calls.items():
            if key == f"BM_Call_{name}" or key.startswith(f"BM_Call_{name}/"):
                return ns
        return None

    baseline = {"SetSend(HighCmd)": cpp("SetSend_High"), "SetSend(LowCmd)": cpp("SetSend_Low"),
                "GetRecv(HighState)": cpp("GetRecv_High"), "GetRecv(LowState)": cpp("GetRecv_Low")}
    lines += [
        "### Hot bound calls (ns per call; SetSend and GetRecv: the fastest of 10 alternating runs,",
        "the others: median of 5 runs; C++: median of 5)",
        "",
        "| call | Python | C++ alone | binding's share |",
        "|---|---:|---:|---:|",
    ]
    for name, ns in py["call_ns"].items():
        c = baseline.get(name)
        extra = f"| {c:.0f} | {ns - c:.0f} |" if c is not None else "| | |"
        lines.append(f"| `{name}` | {ns:.0f} {extra}")
    if all(v is not None for v in baseline.values()):
        lines += [
            "",
            "| low-level call | Python | high-level call in Python + packing's own C++ cost | ratio (goal ≤ 1.3) |",
            "|---|---:|---:|---:|",
        ]
        for low, high in (("SetSend(LowCmd)", "SetSend(HighCmd)"),
                          ("GetRecv(LowState)", "GetRecv(HighState)")):
            allowed = py["call_ns"][high] + max(0.0, baseline[low] - baseline[high])
            lines.append(f"| `{low}` | {py['call_ns'][low]:.0f} | {allowed:.0f} | "
                         f"{py['call_ns'][low] / allowed:.2f} |")
    lines += [
        "",
        "Every overload costs the same to reach: the cycle's calls take bound records, exact ints",
        "and floats at a fixed cost and leave everything else (texts, subclasses, keywords) to the",
        "binding library, unchanged. The Python figures include the interpreter's own call of the",
        "lambda that wraps each call (a few tens of nanoseconds).",
        "",
    ]
    lines += loop_helpers(cycle, helpers_json, loop_json)
    with open(out_path, "w") as f:
        f.write("\n".join(lines))


def loop_helpers(cycle, helpers_json, loop_json):
    """The loop's helpers: their cost beside the C++ cycle, and the period error of the periodic
    loop beside naive loops."""
    lines = []
    if helpers_json:
        helpers = medians(load(helpers_json))

        def ns(name):
            return helpers[f"BM_Helper_{name}/repeats:5"][0]

        clock = ns("MonotonicSeconds")
        lines += [
            "## The loop's helpers per cycle (ns, median of 5 runs)",
            "",
            "`LinkMonitor::Update` and `FlightRecorder::Record` (a ring of 2 s at 500 Hz, larger",
            "than the caches), beside the C++ cycle above; the recorder's share includes reading",
            f"the clock for its time stamp ({clock:.0f} ns).",
            "",
            "| helper | ns | C++ cycle (above) | share of the cycle (goal < 2 %) |",
            "|---|---:|---:|---:|",
        ]
        for label, name, level, extra in (
                ("link monitor, `Update`", "MonitorUpdate", "Low", 0.0),
                ("recorder, low level, `Record` + clock", "RecordLow", "Low", clock),
                ("recorder, high level, `Record` + clock", "RecordHigh", "High", clock)):
            c = cycle[f"BM_Cycle_{level}_Sdk/repeats:5"][0]
            cost = ns(name) + extra
            lines.append(f"| {label} | {cost:.0f} | {c:.0f} | {100 * cost / c:.2f} % |")
        lines.append("")
    if loop_json:
        loop = load(loop_json)
        lines += [
            "## Period error of the periodic loop beside naive loops (us)",
            "",
            f"Each loop runs {loop['seconds']:g} s with an empty body; a wake-up's period error is",
            "its time since the previous wake-up minus the period. `PeriodicLoop` sleeps to",
            "absolute deadlines (`clock_nanosleep`, `TIMER_ABSTIME`); the naive loops sleep one",
            "period after each body, so every cycle is longer by the sleep's latency (and, in a",
            "real loop, by the body's duration). The hog is a busy process on the other core.",
            "",
            "| rate | hog | loop | median | p99 | max | rate achieved (Hz) |",
            "|---:|---|---|---:|---:|---:|---:|",
        ]
        for r in loop["results"]:
            lines.append(f"| {r['rate']} Hz | {'yes' if r['hog'] else 'no'} | {r['loop']} | "
                         f"{r['median_us']:.1f} | {r['p99_us']:.1f} | {r['max_us']:.1f} | "
                         f"{r['rate_hz']:.1f} |")
        lines.append("")
    return lines


if __name__ == "__main__":
    main(*sys.argv[1:9])
