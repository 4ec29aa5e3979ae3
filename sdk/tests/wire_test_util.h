// Helpers shared by the wire-format tests: byte views of records and an independent checksum.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace torvane_test {

template <typename T>
std::vector<uint8_t> Bytes(const T& record) {
  std::vector<uint8_t> out(sizeof(T));
  std::memcpy(out.data(), &record, sizeof(T));
  return out;
}

inline uint32_t ReadLE32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The checksum as defined, bit by bit, written without looking at the SDK's table form.
inline uint32_t BitwiseCrc(const uint8_t* bytes, uint32_t words) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint32_t k = 0; k < words; ++k) {
    const uint32_t w = ReadLE32(bytes + 4 * k);
    for (int b = 31; b >= 0; --b) {
      const uint32_t top = crc >> 31;
      crc <<= 1;
      if (top != ((w >> b) & 1u)) crc ^= 0x04C11DB7u;
    }
  }
  return crc;
}

}  // namespace torvane_test
