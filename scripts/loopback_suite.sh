#!/usr/bin/env bash
# The whole suite of an existing build (default: build/default) inside a fresh network namespace
# whose only interface is loopback: no test may need a route, an address or a name server beyond
# 127.0.0.0/8. Needs root (ip netns); the namespace is removed however the run ends.
#   scripts/loopback_suite.sh [preset]      (extra ctest arguments in TORVANE_CTEST_ARGS)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
preset=${1:-default}
[ -d "build/$preset" ] || { echo "loopback_suite: build/$preset is not built (cmake --build --preset $preset)" >&2; exit 2; }
command -v ip >/dev/null || { echo "loopback_suite: needs ip (iproute2)" >&2; exit 2; }
ns=torvane-lo-$$
ip netns add "$ns"
trap 'ip netns del "$ns" 2>/dev/null || true' EXIT
ip -n "$ns" link set lo up
echo "loopback_suite: ctest --preset $preset in network namespace $ns (loopback only)"
# Bounded: every test has its own timeout; the whole run gets at most 20 minutes.
# shellcheck disable=SC2086
ip netns exec "$ns" timeout 1200 ctest --preset "$preset" ${TORVANE_CTEST_ARGS:-}
