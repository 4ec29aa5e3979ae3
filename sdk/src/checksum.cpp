#include "torvane/checksum.h"

#include <array>
#include <cstring>

namespace TORVANE {
namespace {

constexpr uint32_t kPolynomial = 0x04C11DB7u;
constexpr uint32_t kScrambleMask = 0x5B3D7E91u;

// kTable[k][b]: the CRC register after feeding byte b as the top byte followed by k zero bytes.
// Slicing by eight: two words per step, bit-exact with the bitwise definition.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables MakeTables() {
  Tables t{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint32_t crc = b << 24;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x80000000u) ? (crc << 1) ^ kPolynomial : (crc << 1);
    }
    t[0][b] = crc;
  }
  for (int k = 1; k < 8; ++k) {
    for (uint32_t b = 0; b < 256; ++b) {
      const uint32_t prev = t[k - 1][b];
      t[k][b] = (prev << 8) ^ t[0][prev >> 24];
    }
  }
  return t;
}

constexpr Tables kTable = MakeTables();

inline uint32_t LoadLE32(const unsigned char* p) {
  // Byte assembly keeps the result little-endian on any host and any alignment.
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline uint32_t Step(uint32_t x, int base) {
  return kTable[base + 3][x >> 24] ^ kTable[base + 2][(x >> 16) & 0xFF] ^
         kTable[base + 1][(x >> 8) & 0xFF] ^ kTable[base][x & 0xFF];
}

}  // namespace

uint32_t crc32(const uint32_t* data, uint32_t len) {
  uint32_t crc = 0xFFFFFFFFu;
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  for (; len >= 2; len -= 2, p += 8) {
    crc = Step(crc ^ LoadLE32(p), 4) ^ Step(LoadLE32(p + 4), 0);
  }
  if (len == 1) crc = Step(crc ^ LoadLE32(p), 0);
  return crc;
}

uint32_t byte_swap(uint32_t value, uint8_t i, uint8_t j) {
  if (i > 3 || j > 3 || i == j) return value;
  const uint32_t bi = (value >> (8 * i)) & 0xFFu;
  const uint32_t bj = (value >> (8 * j)) & 0xFFu;
  value &= ~((0xFFu << (8 * i)) | (0xFFu << (8 * j)));
  return value | (bi << (8 * j)) | (bj << (8 * i));
}

void encryptCRC(uint8_t* buf, pthread_mutex_t* lock, uint32_t len) {
  if (buf == nullptr || len < 4) return;
  if (lock != nullptr) pthread_mutex_lock(lock);
  uint32_t x = LoadLE32(buf + len - 4) ^ kScrambleMask;
  x = byte_swap(x, 1, 2);
  x = byte_swap(x, 0, 3);
  x = byte_swap(x, 0, 2);
  for (int k = 0; k < 4; ++k) buf[len - 4 + k] = static_cast<uint8_t>(x >> (8 * k));
  if (lock != nullptr) pthread_mutex_unlock(lock);
}

uint32_t decryptCRC(uint32_t v) {
  uint32_t y = byte_swap(v, 0, 2);
  y = byte_swap(y, 1, 2);
  y = byte_swap(y, 0, 3);
  return y ^ kScrambleMask;
}

}  // namespace TORVANE
