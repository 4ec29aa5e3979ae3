// What one UDP payload is on the torvane wire: header and level flag, kind by length, checksum
// verdict and SN. Pure functions over bytes, written once for the emulator, the wire tools and
// the SDK's receive path.
//
// The checksum functions are the caller's (the SDK's crc32 and decryptCRC): this piece must not
// depend on the SDK, whose own sources use it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "datagram/little_endian.h"

namespace torvane_datagram {

constexpr uint8_t kHead0 = 0xFE, kHead1 = 0xEF;
constexpr uint8_t kHighLevelFlag = 0xEE, kLowLevelFlag = 0xFF;
constexpr size_t kHighCmdLength = 129, kHighStateLength = 1087;
constexpr size_t kLowCmdLength = 614, kLowStateLength = 807;

enum class Kind {
  kHighCmd,
  kHighState,
  kLowCmd,
  kLowState,
  kWrongLength,  // header and level flag, but no datagram of that level has this length
  kBadHeader,    // a datagram length of the protocol, without the header bytes or level flag
  kForeign,      // anything else
};

enum class Checksum {
  kGood,           // the plain checksum
  kGoodScrambled,  // the scrambled checksum, on a high-level datagram
  kBad,
  kNone,  // not judged: not one of the four kinds
};

// The word-wise CRC (`words` 32-bit little-endian words from any alignment) and the inverse of
// the scramble a high-level state carries its checksum in.
struct ChecksumFunctions {
  uint32_t (*crc32)(const uint32_t* words, uint32_t count);
  uint32_t (*unscramble)(uint32_t scrambled);
};

struct Classified {
  Kind kind = Kind::kForeign;
  bool header = false;     // at least three bytes, the first two 0xFE 0xEF
  uint8_t level_flag = 0;  // byte 2; 0 when there is none
  Checksum checksum = Checksum::kNone;
  uint64_t sn = 0;  // SN[1]:SN[0], for the four kinds
};

// Which forms of the checksum an n-byte datagram carries: the checksum covers the first
// (n >> 2) - 1 words and sits in the last four bytes. Both false when n < 4.
struct ChecksumMatch {
  bool plain = false;
  bool scrambled = false;
};

inline ChecksumMatch MatchChecksum(const uint8_t* p, size_t n, const ChecksumFunctions& f) {
  ChecksumMatch m;
  if (n < 4) return m;
  const uint32_t carried = LoadLE32(p + n - 4);
  const uint32_t computed =
      f.crc32(reinterpret_cast<const uint32_t*>(p), static_cast<uint32_t>((n >> 2) - 1));
  m.plain = carried == computed;
  m.scrambled = f.unscramble(carried) == computed;
  return m;
}

// The kind of an n-byte payload by its first three bytes and its length alone.
inline Classified ClassifyFrame(const uint8_t* p, size_t n) {
  Classified c;
  c.header = n >= 3 && p[0] == kHead0 && p[1] == kHead1;
  c.level_flag = n >= 3 ? p[2] : 0;
  const bool high = c.header && c.level_flag == kHighLevelFlag;
  const bool low = c.header && c.level_flag == kLowLevelFlag;
  if (!high && !low) {
    const bool known_length =
        n == kHighCmdLength || n == kHighStateLength || n == kLowCmdLength || n == kLowStateLength;
    c.kind = known_length ? Kind::kBadHeader : Kind::kForeign;
    return c;
  }
  if (high && n == kHighCmdLength) {
    c.kind = Kind::kHighCmd;
  } else if (high && n == kHighStateLength) {
    c.kind = Kind::kHighState;
  } else if (low && n == kLowCmdLength) {
    c.kind = Kind::kLowCmd;
  } else if (low && n == kLowStateLength) {
    c.kind = Kind::kLowState;
  } else {
    c.kind = Kind::kWrongLength;
    return c;
  }
  c.sn = static_cast<uint64_t>(LoadLE32(p + 8)) << 32 | LoadLE32(p + 4);
  return c;
}

inline bool IsDatagram(Kind k) {
  return k == Kind::kHighCmd || k == Kind::kHighState || k == Kind::kLowCmd || k == Kind::kLowState;
}

// The kind and, for the four kinds, the checksum verdict: high-level datagrams pass with the
// plain or the scrambled checksum (a state carries the scrambled one, a command the plain one
// unless masked), low-level ones with the plain one only.
inline Classified Classify(const uint8_t* p, size_t n, const ChecksumFunctions& f) {
  Classified c = ClassifyFrame(p, n);
  if (!IsDatagram(c.kind)) return c;
  const ChecksumMatch m = MatchChecksum(p, n, f);
  if (m.plain) {
    c.checksum = Checksum::kGood;
  } else if (c.level_flag == kHighLevelFlag && m.scrambled) {
    c.checksum = Checksum::kGoodScrambled;
  } else {
    c.checksum = Checksum::kBad;
  }
  return c;
}

// "high-level command", "wrong length", ...
inline const char* KindName(Kind k) {
  switch (k) {
    case Kind::kHighCmd:
      return "high-level command";
    case Kind::kHighState:
      return "high-level state";
    case Kind::kLowCmd:
      return "low-level command";
    case Kind::kLowState:
      return "low-level state";
    case Kind::kWrongLength:
      return "wrong length";
    case Kind::kBadHeader:
      return "bad header";
    case Kind::kForeign:
      return "foreign";
  }
  return "?";
}

}  // namespace torvane_datagram
