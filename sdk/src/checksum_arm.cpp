// The packet checksum on 64-bit ARM: folding with the polynomial multiply where the crypto
// extension is there, the CRC32 instructions where only they are. Chosen at run time, so a
// build for generic ARMv8 runs on every core and uses what each one has.
#include "checksum_paths.h"

#if TORVANE_HAVE_ARM_PATHS

#include <arm_acle.h>
#include <arm_neon.h>
#include <asm/hwcap.h>

#include <cstring>

#include "checksum_fold.h"

namespace TORVANE {
namespace detail {
namespace {

// Per-function targets, so that a build for generic ARMv8 carries both paths. GCC's header
// declares the CRC32 intrinsics whatever the target; clang's only when the whole build targets
// them, so clang gets its builtins.
#if defined(__clang__)
#define TORVANE_PMULL_TARGET __attribute__((target("crc,aes")))
#define TORVANE_CRC_TARGET __attribute__((target("crc")))
#define TORVANE_CRC32D __builtin_arm_crc32d
#define TORVANE_CRC32W __builtin_arm_crc32w
#else
#define TORVANE_PMULL_TARGET __attribute__((target("+crypto+crc")))
#define TORVANE_CRC_TARGET __attribute__((target("+crc")))
#define TORVANE_CRC32D __crc32d
#define TORVANE_CRC32W __crc32w
#endif

// The folding's steps on NEON (checksum_fold.h).
struct PmullOps {
  using Vector = uint64x2_t;
  using Key = poly64x2_t;
  // A 128-bit block as a polynomial whose first word has the highest degree: the four
  // little-endian words w0..w3 reversed, so w0 is in bits 96..127.
  TORVANE_PMULL_TARGET static uint64x2_t Block(const unsigned char* q) {
    const uint32x4_t w = vrev64q_u32(vreinterpretq_u32_u8(vld1q_u8(q)));
    return vreinterpretq_u64_u32(vextq_u32(w, w, 2));
  }
  // The initial register 0xFFFFFFFF is the same as XORing it onto the first word.
  TORVANE_PMULL_TARGET static uint64x2_t First(const unsigned char* q) {
    return veorq_u64(Block(q), vcombine_u64(vcreate_u64(0), vcreate_u64(0xFFFFFFFF00000000ull)));
  }
  // a * x^(128 or 512) mod-equivalent, plus the next block: the upper half times the constant
  // of k's upper lane, the lower half times its lower one; both products are below 96 bits.
  TORVANE_PMULL_TARGET static uint64x2_t Fold(uint64x2_t a, poly64x2_t k, uint64x2_t next) {
    const poly128_t hi = vmull_high_p64(vreinterpretq_p64_u64(a), k);
    const poly128_t lo = vmull_p64(static_cast<poly64_t>(vgetq_lane_u64(a, 0)),
                                   static_cast<poly64_t>(vgetq_lane_p64(k, 0)));
    return veorq_u64(veorq_u64(vreinterpretq_u64_p128(hi), vreinterpretq_u64_p128(lo)), next);
  }
};

// Two little-endian words, each bit-reversed in place: the 64-bit reversal puts the second
// word's bits low, so the halves are swapped back.
inline uint64_t Reversed(uint64_t d) {
  const uint64_t rev = __rbitll(d);
  return (rev >> 32) | (rev << 32);
}

// The instructions compute the reflected CRC with the same polynomial: feeding a word most
// significant bit first is feeding its bit reversal least significant bit first, so the register
// `r` is kept bit-reversed until the end.
TORVANE_CRC_TARGET inline uint32_t CrcContinue(uint32_t r, const unsigned char* p, uint32_t len) {
  for (; len >= 4; len -= 4, p += 16) {
    uint64_t d[2];
    std::memcpy(d, p, 16);
    r = TORVANE_CRC32D(r, Reversed(d[0]));
    r = TORVANE_CRC32D(r, Reversed(d[1]));
  }
  if (len >= 2) {
    uint64_t d;
    std::memcpy(&d, p, 8);
    r = TORVANE_CRC32D(r, Reversed(d));
    len -= 2;
    p += 8;
  }
  if (len == 1) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    r = TORVANE_CRC32W(r, __rbit(w));
  }
  return r;
}

}  // namespace

// The folding of checksum_fold.h, as on x86-64: the accumulator stands for everything so far, and
// its remainder (times x^32, as the register keeps it) is two CRC32 instructions at the end,
// then the words left over. Every core with the crypto extension has them in practice (ARMv8.1
// makes them mandatory); the choice of this path asks for both.
TORVANE_PMULL_TARGET uint32_t PmullWords(const unsigned char* p, uint32_t len) {
  if (len < 8) return __rbit(CrcContinue(0xFFFFFFFFu, p, len));
  const uint64x2_t a =
      FoldBlocks<PmullOps>(p, len, vcombine_p64(vcreate_p64(kX128), vcreate_p64(kX192)),
                           vcombine_p64(vcreate_p64(kX512), vcreate_p64(kX576)));

  // Back into word order (highest-degree word first), then the table's remainder.
  unsigned char words[16];
  const uint32x4_t r = vrev64q_u32(vreinterpretq_u32_u64(a));
  vst1q_u8(words, vreinterpretq_u8_u32(vextq_u32(r, r, 2)));
  return __rbit(CrcContinue(CrcContinue(0, words, 4), p, len % 4));
}

TORVANE_CRC_TARGET uint32_t ArmCrcWords(const unsigned char* p, uint32_t len) {
  return __rbit(CrcContinue(0xFFFFFFFFu, p, len));
}

bool HwcapHasPmull(unsigned long hwcap) {
  return (hwcap & HWCAP_PMULL) != 0;
}
bool HwcapHasCrc32(unsigned long hwcap) {
  return (hwcap & HWCAP_CRC32) != 0;
}

}  // namespace detail
}  // namespace TORVANE

#endif
