#include "program/rejections.h"

#include <cstdio>
#include <cstring>

#include "torvane/checksum.h"
#include "torvane/records.h"

namespace torvane_sim {

Verdict Judge(const uint8_t* data, int held, int length, bool high_level) {
  Verdict v;
  v.length = length;
  v.level = held > 2 ? data[2] : 0;
  const int expected = high_level ? TORVANE::HIGH_CMD_LENGTH : TORVANE::LOW_CMD_LENGTH;
  const uint8_t flag = high_level ? TORVANE::HIGH_LEVEL_FLAG : TORVANE::LOW_LEVEL_FLAG;
  if (held < 3 || data[0] != TORVANE::HEAD[0] || data[1] != TORVANE::HEAD[1]) {
    v.reason = Reason::kBadHeader;
  } else if (data[2] != flag) {
    v.reason = Reason::kWrongLevel;
  } else if (length != expected || held < expected) {
    v.reason = Reason::kWrongLength;
  } else {
    uint32_t carried = 0;
    for (int k = 0; k < 4; ++k) carried |= static_cast<uint32_t>(data[expected - 4 + k]) << (8 * k);
    const uint32_t computed =
        TORVANE::crc32(reinterpret_cast<const uint32_t*>(data), TORVANE::covered_words(expected));
    const bool ok = carried == computed || (high_level && TORVANE::decryptCRC(carried) == computed);
    if (!ok) v.reason = Reason::kBadChecksum;
  }
  return v;
}

std::string RejectionLog::Describe(const Verdict& v) const {
  const char* level = high_level_ ? "high" : "low";
  char line[200];
  switch (v.reason) {
    case Reason::kBadHeader:
      std::snprintf(line, sizeof line,
                    "rejected %d-byte datagram without the 0xFE 0xEF header: not a command",
                    v.length);
      break;
    case Reason::kWrongLevel:
      std::snprintf(line, sizeof line,
                    "rejected %d-byte datagram with level flag 0x%02X: this emulator is %s level",
                    v.length, static_cast<unsigned>(v.level), level);
      break;
    case Reason::kWrongLength:
      std::snprintf(line, sizeof line, "rejected %d-byte datagram: a %s-level command is %d bytes",
                    v.length, level,
                    high_level_ ? TORVANE::HIGH_CMD_LENGTH : TORVANE::LOW_CMD_LENGTH);
      break;
    case Reason::kBadChecksum:
      std::snprintf(line, sizeof line, "rejected %d-byte datagram with a bad checksum", v.length);
      break;
    case Reason::kNone:
      std::snprintf(line, sizeof line, "accepted %d-byte datagram", v.length);
      break;
  }
  return line;
}

void RejectionLog::Note(const Verdict& v, double now) {
  ++counts_[static_cast<size_t>(v.reason)];
  if (now - last_line_ < 1.0) {
    ++unprinted_;
    return;
  }
  std::string line = "torvane-sim: " + Describe(v);
  if (unprinted_ > 0) {
    line += " (and " + std::to_string(unprinted_) + " more rejected since the last such line)";
  }
  std::puts(line.c_str());
  std::fflush(stdout);
  last_line_ = now;
  unprinted_ = 0;
}

std::string RejectionLog::Counts() const {
  return "wrong level " + std::to_string(counts_[static_cast<size_t>(Reason::kWrongLevel)]) +
         ", wrong length " + std::to_string(counts_[static_cast<size_t>(Reason::kWrongLength)]) +
         ", bad header " + std::to_string(counts_[static_cast<size_t>(Reason::kBadHeader)]) +
         ", bad checksum " + std::to_string(counts_[static_cast<size_t>(Reason::kBadChecksum)]);
}

uint64_t RejectionLog::total() const {
  uint64_t sum = 0;
  for (size_t k = 1; k < counts_.size(); ++k) sum += counts_[k];
  return sum;
}

}  // namespace torvane_sim
