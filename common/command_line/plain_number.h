// Numbers as a command line writes them: plain decimal, nothing around them. "+1", " 1", "1 ",
// "0x10", "1e3" for a whole number, "nan" and "inf" are all refused, so that a typing slip is
// reported and never read as some other value.
#pragma once

#include <cstdint>

namespace torvane_cli {

// Decimal digits only, at most UINT64_MAX. Returns false (and leaves `out`) otherwise.
bool ParseWhole(const char* text, uint64_t& out);

// A port: decimal digits only, from `lowest` to 65535.
bool ParsePort(const char* text, uint16_t lowest, uint16_t& out);

// An optional '-', digits with an optional fraction, an optional exponent; finite, neither
// overflowing nor underflowing a double. Returns false (and leaves `out`) otherwise.
bool ParseDecimal(const char* text, double& out);

}  // namespace torvane_cli
