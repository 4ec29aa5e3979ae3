// Commands the emulator turns down: why, judged on the datagram itself before its endpoint takes
// it (so a stray sender is never learned as the client), and a report of them that stays
// readable under a flood: one line at once, then at most one a second.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace torvane_sim {

enum class Reason { kNone, kBadHeader, kWrongLevel, kWrongLength, kBadChecksum };

struct Verdict {
  Reason reason = Reason::kNone;  // kNone: a valid command of this emulator's level
  int length = 0;                 // bytes the datagram had
  uint8_t level = 0;              // its level flag (byte 2), 0 if it had none
};

// Judges a command datagram of `length` bytes, of which `data` holds the first `held` (at most
// `length`; at least the expected length, when the datagram is that long). High-level commands are
// taken with the plain or the scrambled checksum, low-level ones with the plain one only.
Verdict Judge(const uint8_t* data, int held, int length, bool high_level);

class RejectionLog {
 public:
  explicit RejectionLog(bool high_level) : high_level_(high_level) {}

  // Counts a rejection; prints its line ("torvane-sim: rejected ...") if none was printed in the
  // last second, telling how many went unprinted before it. `now` in seconds, any epoch.
  void Note(const Verdict& v, double now);
  // The line that says what was wrong with `v`, without the program's prefix.
  std::string Describe(const Verdict& v) const;
  // "wrong level N, wrong length N, bad header N, bad checksum N".
  std::string Counts() const;
  uint64_t total() const;

 private:
  bool high_level_;
  std::array<uint64_t, 5> counts_{};
  double last_line_ = -1e9;
  uint64_t unprinted_ = 0;
};

}  // namespace torvane_sim
