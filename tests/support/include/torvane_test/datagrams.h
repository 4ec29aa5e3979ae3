// Datagram images the tests build without the SDK: byte views of records, and state datagrams
// of either level stamped with the reference checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "torvane_test/reference_checksum.h"

namespace torvane_test {

template <typename T>
std::vector<uint8_t> Bytes(const T& record) {
  std::vector<uint8_t> out(sizeof(T));
  std::memcpy(out.data(), &record, sizeof(T));
  return out;
}

// A datagram of `length` bytes with a pattern from `seed`, the header for `level`, and the
// checksum (plain, or scrambled) in its last four bytes.
inline std::vector<uint8_t> Datagram(size_t length, uint8_t level, uint32_t seed, bool scrambled) {
  std::vector<uint8_t> d(length);
  for (size_t i = 0; i < length; ++i) d[i] = static_cast<uint8_t>(seed * 31 + i * 7);
  d[0] = 0xFE;
  d[1] = 0xEF;
  d[2] = level;
  const uint32_t crc = BitwiseCrc(d.data(), static_cast<uint32_t>((length >> 2) - 1));
  StoreLE32(&d[length - 4], scrambled ? Scrambled(crc) : crc);
  return d;
}

inline std::vector<uint8_t> HighStateDatagram(uint32_t seed = 1) {
  return Datagram(1087, 0xEE, seed, true);
}
inline std::vector<uint8_t> LowStateDatagram(uint32_t seed = 1) {
  return Datagram(807, 0xFF, seed, false);
}

// FNV-1a 64 of a datagram as the emulator's trace reports it (its offset basis, one digit
// short of the standard one, is the trace's own).
inline uint64_t Digest(const uint8_t* p, size_t n) {
  uint64_t d = 1469598103934665603ull;
  for (size_t i = 0; i < n; ++i) d = (d ^ p[i]) * 1099511628211ull;
  return d;
}

}  // namespace torvane_test
