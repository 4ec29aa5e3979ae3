#!/usr/bin/env bash
# A bounded libFuzzer campaign on each target (default 60 s each), from seed corpora of valid
# datagrams. Fails on any finding; the reproducer is left under build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds=${TORVANE_FUZZ_SECONDS:-60}
scripts/bootstrap.sh >/dev/null
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
bin=build/fuzz/fuzz
corpus=build/fuzz/corpus
findings=build/fuzz/findings
mkdir -p "$corpus/recv" "$corpus/wire" "$findings"
"$bin/make_seeds" "$corpus/recv" "$corpus/wire" >/dev/null
for target in recv wire; do
  echo "fuzz: ${target}_fuzzer for ${seconds}s"
  "$bin/${target}_fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$findings/${target}-" "$corpus/$target" 2>"build/fuzz/${target}.log" ||
    { tail -n 60 "build/fuzz/${target}.log"; echo "fuzz: ${target}_fuzzer found a fault"; exit 1; }
  grep -E '^stat::number_of_executed_units|^Done' "build/fuzz/${target}.log" || true
done
echo "fuzz: no finding"
