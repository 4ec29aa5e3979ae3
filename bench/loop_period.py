"""Period error of the periodic loop beside the naive loops, at 500 Hz and 1 kHz, without and
with a CPU hog on the other core, in one run.

    PYTHONPATH=<dir of torvane_link> python3.12 bench/loop_period.py <loop_period> <out.json> [s]

Four loops with an empty body: PeriodicLoop in C++ and from Python (torvane_link), a C++ loop
that sleeps one period with std::this_thread::sleep_for and a Python loop that sleeps with
time.sleep. A wake-up's period error is its time since the previous wake-up minus the period;
the figures are of its magnitude. The hog is a busy child process, always stopped.
"""

import json
import os
import statistics
import subprocess
import sys
import time

import torvane_link

RATES = (500, 1000)


def stats(intervals_ns, period_ns):
    errors = sorted(abs(i - period_ns) / 1000.0 for i in intervals_ns)
    p99 = errors[min(len(errors) - 1, int(round(0.99 * (len(errors) - 1))))]
    return {"median_us": statistics.median(errors), "p99_us": p99, "max_us": errors[-1],
            "rate_hz": 1e9 / statistics.fmean(intervals_ns), "cycles": len(intervals_ns) + 1}


def intervals(wakes):
    return [b - a for a, b in zip(wakes, wakes[1:])]


def python_periodic(rate, cycles):
    wakes = []
    torvane_link.PeriodicLoop(1.0 / rate).Run(lambda: wakes.append(time.monotonic_ns()), cycles)
    return intervals(wakes)


def python_sleep(rate, cycles):
    wakes = []
    period = 1.0 / rate
    for _ in range(cycles):
        wakes.append(time.monotonic_ns())
        time.sleep(period)
    return intervals(wakes)


def cpp(binary, kind):
    def run(rate, cycles):
        out = subprocess.run([binary, kind, str(rate), str(cycles)], capture_output=True,
                             text=True, check=True, timeout=60).stdout
        return [float(line) for line in out.split()]
    return run


class Hog:
    """A busy child process on the other core (or sharing the only one)."""

    def __enter__(self):
        self.child = subprocess.Popen([sys.executable, "-c", "while True: pass"])
        cores = sorted(os.sched_getaffinity(0))
        if len(cores) > 1:
            os.sched_setaffinity(self.child.pid, {cores[-1]})
        return self

    def __exit__(self, *exc):
        self.child.terminate()
        try:
            self.child.wait(timeout=3)
        except subprocess.TimeoutExpired:
            self.child.kill()
            self.child.wait()


def main(binary, out_path, seconds=1.0):
    cores = sorted(os.sched_getaffinity(0))
    if len(cores) > 1:
        os.sched_setaffinity(0, {cores[0]})  # the loops on one core, the hog on another
    loops = {"PeriodicLoop (C++)": cpp(binary, "periodic"),
             "PeriodicLoop (Python)": python_periodic,
             "sleep_for (C++)": cpp(binary, "sleep_for"),
             "time.sleep (Python)": python_sleep}
    results = []
    for hog in (False, True):
        for rate in RATES:
            cycles = int(seconds * rate)
            for name, run in loops.items():
                if hog:
                    with Hog():
                        measured = run(rate, cycles)
                else:
                    measured = run(rate, cycles)
                results.append(dict(loop=name, rate=rate, hog=hog,
                                    **stats(measured, 1e9 / rate)))
    with open(out_path, "w") as f:
        json.dump({"seconds": seconds, "results": results}, f, indent=1)
    for r in results:
        print(f"{r['loop']:22} {r['rate']:5} Hz hog={r['hog']!s:5} median {r['median_us']:8.1f} "
              f"p99 {r['p99_us']:8.1f} max {r['max_us']:8.1f} us  rate {r['rate_hz']:7.1f} Hz")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], *(float(a) for a in sys.argv[3:4]))
