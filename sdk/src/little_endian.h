// Little-endian 32-bit words at any address, as the wire carries them, on any host.
#pragma once

#include <cstdint>

namespace TORVANE {
namespace detail {

inline uint32_t LoadLE32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void StoreLE32(unsigned char* p, uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<unsigned char>(v >> (8 * k));
}

}  // namespace detail
}  // namespace TORVANE
