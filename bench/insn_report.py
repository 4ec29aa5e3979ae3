"""Counts user-space instructions per control cycle and per checksum under the emulator, for
aarch64 and for x86-64, and prints a section of docs/performance.md (scripts/bench.sh).

Each figure is a slope: the instructions of a run of N2 cycles less those of a run of N1, over
N2 - N1, so start-up and exit cancel out."""

import os
import subprocess
import sys
import tempfile

N1, N2 = 1000, 3000


def count(command, plugin, program, args):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "count")
        subprocess.run(command + ["-plugin", f"{plugin},out={out}", program] + args,
                       check=True, stdout=subprocess.DEVNULL)
        with open(out) as f:
            return int(f.read())


def slope(command, plugin, program, what, path=None):
    extra = [path] if path else []
    lo = count(command, plugin, program, [what, str(N1)] + extra)
    hi = count(command, plugin, program, [what, str(N2)] + extra)
    return (hi - lo) / (N2 - N1)


def main(qemu_aarch64, qemu_x86_64, plugin, arm_program, x86_program, sysroot, qemu_version):
    arm = [qemu_aarch64, "-cpu", "max", "-L", sysroot]
    x86 = [qemu_x86_64, "-cpu", "max"]
    cyc = {}
    for level in ("low", "high"):
        cyc[level] = (slope(arm, plugin, arm_program, level),
                      slope(x86, plugin, x86_program, level),
                      slope(arm, plugin, arm_program, level, "table"),
                      slope(x86, plugin, x86_program, level, "table"))
    crc_arm = {p: slope(arm, plugin, arm_program, "crc1087", p) for p in ("pmull", "armcrc", "table")}
    crc_x86 = {p: slope(x86, plugin, x86_program, "crc1087", p) for p in ("clmul", "table")}

    lines = [
        "",
        "## Instructions on the robot's processor (aarch64) and on x86-64",
        "",
        "User-space instructions counted by the emulator's TCG plugin (`bench/insn_count_plugin.c`)",
        f"under {qemu_version}, `-cpu max` for both targets.",
        f"Each figure is the slope between runs of {N1} and {N2} cycles (`bench/cycle_count`), so",
        "start-up cancels out. The cycles are those of the C++ cycle above, the peer's part",
        "included; system calls are the kernel's and not counted. Wall time under emulation means",
        "nothing; instruction counts are the same on every machine for the same build. Both",
        "programs are Release builds of the same sources with Debian's GCC 12.",
        "",
        "| level | aarch64 | x86-64 | aarch64 / x86-64 (goal ≤ 1.2) | aarch64, table form | x86-64, table form |",
        "|---|---:|---:|---:|---:|---:|",
    ]
    for level in ("low", "high"):
        a, x, at, xt = cyc[level]
        lines.append(f"| {level} | {a:.0f} | {x:.0f} | {a / x:.2f} | {at:.0f} | {xt:.0f} |")
    lines += [
        "",
        "Checksum of a 1087-byte datagram (270 words), instructions, each path forced:",
        "",
        "| aarch64 PMULL folding | aarch64 CRC32 instructions | aarch64 table | x86-64 carry-less folding | x86-64 table | aarch64 PMULL / x86-64 carry-less (goal ≤ 1.0) |",
        "|---:|---:|---:|---:|---:|---:|",
        f"| {crc_arm['pmull']:.0f} | {crc_arm['armcrc']:.0f} | {crc_arm['table']:.0f} | "
        f"{crc_x86['clmul']:.0f} | {crc_x86['table']:.0f} | {crc_arm['pmull'] / crc_x86['clmul']:.2f} |",
        "",
        "On aarch64 the checksum is chosen at run time from the kernel's hardware capabilities:",
        "PMULL folding where the crypto extension and the CRC32 instructions are both there, the",
        "CRC32 instructions alone where only they are, the table form elsewhere. To reproduce:",
        "`scripts/bench.sh` (it builds `cycle_count` for both targets and the plugin, and takes a",
        "plugin-capable `qemu-aarch64` and `qemu-x86_64` from Debian's `qemu-user`).",
    ]
    print("\n".join(lines))


if __name__ == "__main__":
    main(*sys.argv[1:])
