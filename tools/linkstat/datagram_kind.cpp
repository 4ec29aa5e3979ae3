#include "datagram_kind.h"

#include <cstring>

#include "torvane/checksum.h"
#include "torvane/records.h"

namespace torvane_tools {
namespace {

uint32_t LoadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

Kind KindOf(int length, uint8_t level) {
  using namespace TORVANE;
  if (level == HIGH_LEVEL_FLAG) {
    if (length == HIGH_CMD_LENGTH) return Kind::kHighCmd;
    if (length == HIGH_STATE_LENGTH) return Kind::kHighState;
  } else if (level == LOW_LEVEL_FLAG) {
    if (length == LOW_CMD_LENGTH) return Kind::kLowCmd;
    if (length == LOW_STATE_LENGTH) return Kind::kLowState;
  }
  return Kind::kForeign;
}

}  // namespace

const char* KindName(Kind k) {
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

Classified Classify(const uint8_t* p, size_t n) {
  Classified c;
  const int length = static_cast<int>(n);
  const bool framed = n >= 3 && p[0] == TORVANE::HEAD[0] && p[1] == TORVANE::HEAD[1] &&
                      (p[2] == TORVANE::HIGH_LEVEL_FLAG || p[2] == TORVANE::LOW_LEVEL_FLAG);
  if (!framed) {
    const bool known_length =
        length == TORVANE::HIGH_CMD_LENGTH || length == TORVANE::HIGH_STATE_LENGTH ||
        length == TORVANE::LOW_CMD_LENGTH || length == TORVANE::LOW_STATE_LENGTH;
    c.kind = known_length ? Kind::kBadHeader : Kind::kForeign;
    return c;
  }
  c.kind = KindOf(length, p[2]);
  if (c.kind == Kind::kForeign) {
    c.kind = Kind::kWrongLength;
    return c;
  }
  const uint32_t carried = LoadLE32(p + n - 4);
  const uint32_t computed =
      TORVANE::crc32(reinterpret_cast<const uint32_t*>(p), TORVANE::covered_words(length));
  if (carried == computed) {
    c.checksum = Checksum::kGood;
  } else if (p[2] == TORVANE::HIGH_LEVEL_FLAG && TORVANE::decryptCRC(carried) == computed) {
    c.checksum = Checksum::kGoodScrambled;
  } else {
    c.checksum = Checksum::kBad;
  }
  c.sn = static_cast<uint64_t>(LoadLE32(p + 8)) << 32 | LoadLE32(p + 4);
  return c;
}

}  // namespace torvane_tools
