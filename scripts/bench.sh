#!/usr/bin/env bash
# Builds the benchmarks (Release), runs them and writes the report to build/bench/performance.md.
#   scripts/bench.sh                 report under build/ only
#   scripts/bench.sh --update-docs   also replace the tracked docs/performance.md with it
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
update_docs=0
for arg in "$@"; do
  case $arg in
    --update-docs) update_docs=1 ;;
    -h|--help) sed -n '2,4s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "bench: unknown option $arg (try --help)" >&2; exit 2 ;;
  esac
done
scripts/bootstrap.sh >/dev/null
cmake --preset bench >/dev/null
cmake --build --preset bench
out=build/bench/results
report=build/bench/performance.md
mkdir -p "$out"
python=$(cat .deps/python)
quiet() { grep -v -E '^(UDP Initialized|Closing UDP\.|End Safety\.)' || true; }

build/bench/bench/checksum_bench --benchmark_out="$out/checksum.json" --benchmark_out_format=json
build/bench/bench/cycle_bench --benchmark_out="$out/cycle.json" --benchmark_out_format=json | quiet
build/bench/bench/call_bench --benchmark_out="$out/call.json" --benchmark_out_format=json | quiet
PYTHONPATH=build/bench/python "$python" bench/python_cycle.py "$out/python.json" 20000 | quiet
build/bench/bench/loop_helpers_bench --benchmark_out="$out/helpers.json" --benchmark_out_format=json
PYTHONPATH=build/bench/python "$python" bench/loop_period.py build/bench/bench/loop_period \
  "$out/loop.json" 1
"$python" bench/report.py "$out/checksum.json" "$out/cycle.json" "$out/python.json" \
  "$report" "$(c++ --version | head -n 1)" "$out/call.json" "$out/helpers.json" "$out/loop.json"

# Instruction counts under the emulator, aarch64 beside x86-64. Debian's qemu-user-static cannot
# load plugins; its dynamic qemu-user can. Where that is not installed, its package and the two
# libraries it needs beyond the base system are unpacked under .deps/qemu-user (nothing installed).
qemu_user() {
  if command -v qemu-aarch64 >/dev/null && command -v qemu-x86_64 >/dev/null; then
    qemu_bin=$(dirname "$(command -v qemu-aarch64)")
    return 0
  fi
  local dir=$PWD/.deps/qemu-user
  qemu_bin=$dir/usr/bin
  export LD_LIBRARY_PATH=$dir/usr/lib/x86_64-linux-gnu${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
  [ -x "$qemu_bin/qemu-aarch64" ] && [ -x "$qemu_bin/qemu-x86_64" ] && return 0
  rm -rf "$dir" && mkdir -p "$dir/debs"
  local pkgs=(qemu-user libcapstone4 liburing2)
  (cd "$dir/debs" && { apt-get download "${pkgs[@]}" >/dev/null 2>&1 ||
    { apt-get update -qq >/dev/null 2>&1 && apt-get download "${pkgs[@]}" >/dev/null 2>&1; }; }) ||
    return 1
  for deb in "$dir"/debs/*.deb; do dpkg -x "$deb" "$dir"; done
  [ -x "$qemu_bin/qemu-aarch64" ] && [ -x "$qemu_bin/qemu-x86_64" ]
}

echo "== Instruction counts under the emulator"
if qemu_user && "$qemu_bin/qemu-aarch64" -h | grep -q -- '-plugin'; then
  scripts/aarch64.sh --bench-only
  cmake --build --preset bench --target cycle_count insn_count >/dev/null
  "$python" bench/insn_report.py "$qemu_bin/qemu-aarch64" "$qemu_bin/qemu-x86_64" \
    "$PWD/build/bench/bench/libinsn_count.so" build/aarch64-bench/bench/cycle_count \
    build/bench/bench/cycle_count /usr/aarch64-linux-gnu \
    "$("$qemu_bin/qemu-aarch64" --version | head -n 1)" >>"$report"
else
  echo "bench: no plugin-capable qemu-user (package qemu-user): instruction counts left out" >&2
  printf '\n## Instructions on the robot'"'"'s processor (aarch64) and on x86-64\n\nNot measured in this run: no plugin-capable qemu-user.\n' >>"$report"
fi
build/bench/sim/sim_bench 20 5000 | quiet >>"$report"
# torvane-sim --video at 640x480 and 30 fps, where the emulator is built with its view.
if [ -x build/bench/sim/video_bench ]; then
  build/bench/sim/video_bench 10 >>"$report"
else
  printf '\n## Offscreen video (torvane-sim --video)\n\nNot measured: built without the view.\n' >>"$report"
fi
# The DDS bridge (loopback only): added latency beside ddsperf's, missed cycles with a slow
# subscriber over TORVANE_BRIDGE_BENCH_SECONDS (default 60).
bridge/bench/bridge_bench.sh build/bench "$out/bridge.md"
cat "$out/bridge.md" >>"$report"
cat "$report"
if [ "$update_docs" = 1 ]; then
  cp "$report" docs/performance.md
  echo "bench: docs/performance.md updated"
else
  echo "bench: report in $report (scripts/bench.sh --update-docs replaces docs/performance.md)"
fi
