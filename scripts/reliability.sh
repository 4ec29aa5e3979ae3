#!/usr/bin/env bash
# What CI runs after the test command: the whole suite again with loopback only, then under
# ASan + UBSan, the two-thread endpoint tests and the multi-link soak under ThreadSanitizer, a
# bounded fuzzing campaign, and the benchmarks (figures only, written under build/bench/; the
# tracked report is not touched).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
scripts/bootstrap.sh >/dev/null

echo "== Every test with loopback only (a network namespace without routes)"
scripts/loopback_suite.sh default

echo "== ASan + UBSan: every test"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize

echo "== ThreadSanitizer: one thread sending beside one receiving"
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target transport_test sim_multilink_soak_test
TSAN_OPTIONS=halt_on_error=1 build/tsan/sdk/tests/transport_test --gtest_filter='EndpointThreads.*'

echo "== ThreadSanitizer: four links and a fifth packing thread against four emulators"
TSAN_OPTIONS=halt_on_error=1 TORVANE_SOAK_CYCLES=5000 \
  build/tsan/sim/tests/sim_multilink_soak_test

echo "== libFuzzer"
scripts/fuzz.sh

# Figures only: speed is reported beside same-run baselines, never a pass mark.
echo "== Benchmarks"
scripts/bench.sh
