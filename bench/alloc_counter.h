// Counts heap allocations of the whole process (malloc and everything built on it), so that a
// benchmark can report allocations per cycle.
#pragma once

#include <cstdint>

namespace torvane_bench {
uint64_t Allocations();
}  // namespace torvane_bench
