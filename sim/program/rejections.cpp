#include "program/rejections.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "datagram/classify.h"
#include "torvane/checksum.h"
#include "torvane/records.h"

namespace torvane_sim {

Verdict Judge(const uint8_t* data, int held, int length, bool high_level) {
  using torvane_datagram::Checksum;
  using torvane_datagram::Kind;
  Verdict v;
  v.length = length;
  v.level = held > 2 ? data[2] : 0;
  const uint8_t flag = high_level ? TORVANE::HIGH_LEVEL_FLAG : TORVANE::LOW_LEVEL_FLAG;
  // Held bytes are classified; a datagram longer than they are is never a command.
  const auto c =
      torvane_datagram::Classify(data, static_cast<size_t>(std::max(0, std::min(held, length))),
                                 {TORVANE::crc32, TORVANE::decryptCRC});
  if (!c.header) {
    v.reason = Reason::kBadHeader;
  } else if (c.level_flag != flag) {
    v.reason = Reason::kWrongLevel;
  } else if (held < length || c.kind != (high_level ? Kind::kHighCmd : Kind::kLowCmd)) {
    v.reason = Reason::kWrongLength;
  } else if (c.checksum != Checksum::kGood && c.checksum != Checksum::kGoodScrambled) {
    v.reason = Reason::kBadChecksum;
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
