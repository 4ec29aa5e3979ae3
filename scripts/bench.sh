#!/usr/bin/env bash
# Builds the benchmarks (Release), runs them, and writes docs/performance.md.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
scripts/bootstrap.sh >/dev/null
cmake --preset bench >/dev/null
cmake --build --preset bench
out=build/bench/results
mkdir -p "$out"
python=$(cat .deps/python)
quiet() { grep -v -E '^(UDP Initialized|Closing UDP\.|End Safety\.)' || true; }

build/bench/bench/checksum_bench --benchmark_out="$out/checksum.json" --benchmark_out_format=json
build/bench/bench/cycle_bench --benchmark_out="$out/cycle.json" --benchmark_out_format=json | quiet
build/bench/bench/call_bench --benchmark_out="$out/call.json" --benchmark_out_format=json | quiet
PYTHONPATH=build/bench/python "$python" bench/python_cycle.py "$out/python.json" 20000 | quiet
"$python" bench/report.py "$out/checksum.json" "$out/cycle.json" "$out/python.json" \
  docs/performance.md "$(c++ --version | head -n 1)" "$out/call.json"
cat docs/performance.md
