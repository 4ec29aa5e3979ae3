// Bytes of any length into the wire format: the checksum's two forms against each other at any
// length and alignment, the scramble round trip, and packing and unpacking of whatever arrives.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "torvane/torvane.h"
#include "torvane_testing/checksum_path.h"

using namespace TORVANE;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The folding form and the table form must agree everywhere.
  for (size_t offset = 0; offset < 4 && offset <= size; ++offset) {
    const auto words = static_cast<uint32_t>((size - offset) / 4);
    const auto* p = reinterpret_cast<const uint32_t*>(data + offset);
    if (crc32(p, words) != detail::crc32_table(p, words)) std::abort();
  }
  if (size >= 4) {
    uint32_t v;
    std::memcpy(&v, data, 4);
    uint8_t buf[4];
    std::memcpy(buf, &v, 4);
    encryptCRC(buf, nullptr, 4);
    uint32_t scrambled;
    std::memcpy(&scrambled, buf, 4);
    if (decryptCRC(scrambled) != v) std::abort();
  }

  LowState_refine packed{};
  std::memcpy(&packed, data, std::min(size, sizeof packed));
  LowState state{};
  state.crc = 0x12345678u;
  refineState(state, packed);
  if (state.crc != 0x12345678u) std::abort();

  LowCmd cmd{};
  std::memcpy(&cmd, data, std::min(size, sizeof cmd));
  LowCmd_refine out{};
  refineCmd(out, cmd);
  if (out.crc != crc32(reinterpret_cast<const uint32_t*>(&out), 152)) std::abort();
  return 0;
}
