// Back to a fresh process's transport state, for tests, benchmarks and fuzzers that share one
// process between cases (target torvane::sdk_testing); not installed.
#pragma once

namespace TORVANE {
namespace detail {

// Puts the process-wide transport state (peer address, thresholds, developer checksum mode)
// back to its start-of-process values.
void ResetTransportState();

}  // namespace detail
}  // namespace TORVANE
