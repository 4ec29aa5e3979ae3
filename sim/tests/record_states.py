"""Runs a Python example with every state it takes through GetRecv written to a file, one JSON
line per state, every field (floats as exact hex): record_states.py OUT EXAMPLE [ARGS...]"""

import json
import os
import runpy
import sys

import robot_interface as ri


def plain(value):
    """A record as nested dicts and lists of exact values."""
    if isinstance(value, float):
        return value.hex()
    if isinstance(value, (int, str)):
        return value
    if isinstance(value, list):
        return [plain(v) for v in value]
    names = sorted(n for n, a in vars(type(value)).items() if isinstance(a, property))
    return {n: plain(getattr(value, n)) for n in names}


def main():
    out_path, example = sys.argv[1], sys.argv[2]
    out = open(out_path, "w")

    class RecordingUDP(ri.UDP):
        def GetRecv(self, state):
            super().GetRecv(state)
            out.write(json.dumps(plain(state)) + "\n")

    ri.UDP = RecordingUDP
    sys.argv = [example] + sys.argv[3:]
    sys.path.insert(0, os.path.dirname(os.path.abspath(example)))  # as running it directly would
    try:
        runpy.run_path(example, run_name="__main__")
    finally:
        out.close()


if __name__ == "__main__":
    main()
