// The packet checksum as the protocol defines it, bit by bit, and its scrambled form, written
// without looking at the SDK: the tests hold the SDK's table-driven checksum against this one.
#pragma once

#include <cstdint>

namespace torvane_test {

inline uint32_t ReadLE32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void StoreLE32(uint8_t* p, uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (8 * k));
}

// MSB-first CRC-32 (polynomial 0x04C11DB7, start 0xFFFFFFFF) over `words` little-endian words.
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

// The scrambled form as a real controller sends it: mask, then rotate right by 8 bits.
inline uint32_t Scrambled(uint32_t crc) {
  const uint32_t m = crc ^ 0x5B3D7E91u;
  return (m >> 8) | (m << 24);
}

}  // namespace torvane_test
