#include "program/faults.h"

namespace torvane_sim {

const char* FaultName(Fault f) {
  switch (f) {
    case Fault::kNone:
      return "ok";
    case Fault::kDrop:
      return "drop";
    case Fault::kCorruptCrc:
      return "crc";
    case Fault::kCorruptHeader:
      return "header";
    case Fault::kTruncate:
      return "truncate";
    case Fault::kDuplicate:
      return "duplicate";
  }
  return "?";
}

Fault FaultInjector::Next() {
  if (shares_.total() <= 0.0) {
    ++tally_.none;
    return Fault::kNone;
  }
  const double r = std::uniform_real_distribution<double>(0.0, 1.0)(rng_);
  double edge = shares_.drop;
  if (r < edge) return ++tally_.drop, Fault::kDrop;
  edge += shares_.corrupt_crc;
  if (r < edge) return ++tally_.corrupt_crc, Fault::kCorruptCrc;
  edge += shares_.corrupt_header;
  if (r < edge) return ++tally_.corrupt_header, Fault::kCorruptHeader;
  edge += shares_.truncate;
  if (r < edge) return ++tally_.truncate, Fault::kTruncate;
  edge += shares_.duplicate;
  if (r < edge) return ++tally_.duplicate, Fault::kDuplicate;
  ++tally_.none;
  return Fault::kNone;
}

int FaultInjector::TruncatedLength(int length) {
  return std::uniform_int_distribution<int>(2, length - 4)(rng_);
}

uint32_t FaultInjector::Noise() {
  return std::uniform_int_distribution<uint32_t>(1, UINT32_MAX)(rng_);
}

}  // namespace torvane_sim
