// Packet checksum: a most-significant-bit-first CRC-32 fed one little-endian 32-bit word at a
// time, and the scramble that high-level state datagrams carry instead of the plain value.
#pragma once

#include <pthread.h>

#include <cstdint>

namespace TORVANE {

// Checksum of the first `len` 32-bit words at `data` (polynomial 0x04C11DB7, initial value
// 0xFFFFFFFF, no reflection, no final XOR). Words are read little-endian from any alignment;
// len 0 returns 0xFFFFFFFF without reading data.
uint32_t crc32(const uint32_t* data, uint32_t len);

// `value` with its bytes i and j (0 = least significant) exchanged. An index above 3 returns
// `value` unchanged.
uint32_t byte_swap(uint32_t value, uint8_t i, uint8_t j);

// Scrambles, in place and under `lock`, the checksum in the last four bytes of the `len`-byte
// datagram `buf`: XOR with 0x5B3D7E91, then rotate right by 8 bits. Does nothing if len < 4.
void encryptCRC(uint8_t* buf, pthread_mutex_t* lock, uint32_t len);

// The plain checksum of scrambled value `v`; decryptCRC undoes encryptCRC for every value.
uint32_t decryptCRC(uint32_t v);

// Number of words the checksum of an L-byte datagram covers: (L >> 2) - 1, or 0 if L < 4.
constexpr uint32_t covered_words(int length) {
  return length < 4 ? 0u : static_cast<uint32_t>((length >> 2) - 1);
}

}  // namespace TORVANE
