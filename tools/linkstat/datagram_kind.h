// What one UDP payload is on the torvane wire: its kind, level, checksum verdict and SN.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvane_tools {

enum class Kind {
  kHighCmd,
  kHighState,
  kLowCmd,
  kLowState,
  kWrongLength,  // header and level flag, but no datagram of that level has this length
  kBadHeader,    // a datagram length of the protocol, without the header bytes or level flag
  kForeign,      // anything else
};

const char* KindName(Kind k);

enum class Checksum { kGood, kGoodScrambled, kBad, kNone };

struct Classified {
  Kind kind = Kind::kForeign;
  Checksum checksum = Checksum::kNone;
  uint64_t sn = 0;  // SN[1]:SN[0], for the four datagram kinds
};

// Classifies `n` bytes at `p`. High-level datagrams pass with the plain or the scrambled
// checksum (a state carries the scrambled one, a command the plain one unless masked);
// low-level ones with the plain checksum only.
Classified Classify(const uint8_t* p, size_t n);

}  // namespace torvane_tools
