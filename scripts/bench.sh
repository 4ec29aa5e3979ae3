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
PYTHONPATH=build/bench/python "$python" bench/python_cycle.py "$out/python.json" 20000 | quiet
"$python" bench/report.py "$out/checksum.json" "$out/cycle.json" "$out/python.json" \
  "$report" "$(c++ --version | head -n 1)"
cat "$report"
if [ "$update_docs" = 1 ]; then
  cp "$report" docs/performance.md
  echo "bench: docs/performance.md updated"
else
  echo "bench: report in $report (scripts/bench.sh --update-docs replaces docs/performance.md)"
fi
