// Fault injection on state datagrams, reproducible from a seed: each datagram gets at most one
// fault, chosen by the configured shares.
#pragma once

#include <cstdint>
#include <random>

#include "program/options.h"

namespace torvane_sim {

enum class Fault { kNone, kDrop, kCorruptCrc, kCorruptHeader, kTruncate, kDuplicate };

const char* FaultName(Fault f);

struct FaultTally {
  uint64_t none = 0, drop = 0, corrupt_crc = 0, corrupt_header = 0, truncate = 0, duplicate = 0;
};

class FaultInjector {
 public:
  FaultInjector(const FaultShares& shares, uint64_t seed) : shares_(shares), rng_(seed) {}

  // The fault for the next datagram, counted in tally().
  Fault Next();
  // A length to cut a datagram of `length` bytes to: the header stays whole and the checksum
  // word is cut off entirely, so the receiver sees a checksum error (2 .. length - 4).
  int TruncatedLength(int length);
  // A non-zero pattern to spoil a checksum with.
  uint32_t Noise();
  const FaultTally& tally() const { return tally_; }

 private:
  FaultShares shares_;
  std::mt19937_64 rng_;
  FaultTally tally_;
};

}  // namespace torvane_sim
