// Counts heap allocations of the whole process (malloc and everything built on it), so that a
// test or benchmark can check or report allocations per cycle.
#pragma once

#include <cstdint>

namespace torvane_test {
uint64_t Allocations();
}  // namespace torvane_test
