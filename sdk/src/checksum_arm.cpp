// The packet checksum on 64-bit ARM: folding with the polynomial multiply where the crypto
// extension is there, the CRC32 instructions where only they are. Chosen at run time, so a
// build for generic ARMv8 runs on every core and uses what each one has.
#include "checksum_paths.h"

#if TORVANE_HAVE_ARM_PATHS

#include <arm_acle.h>
#include <arm_neon.h>
#include <asm/hwcap.h>

#include <cstring>

namespace TORVANE {
namespace detail {
namespace {

constexpr uint32_t kPolynomial = 0x04C11DB7u;

// x^n mod P, the constants of the folding.
constexpr uint32_t PowerMod(int n) {
  uint32_t r = 1;
  for (int i = 0; i < n; ++i) r = (r & 0x80000000u) ? (r << 1) ^ kPolynomial : (r << 1);
  return r;
}

constexpr uint64_t kX128 = PowerMod(128), kX192 = PowerMod(192), kX512 = PowerMod(512),
                   kX576 = PowerMod(576);

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

// A 128-bit block as a polynomial whose first word has the highest degree: the four
// little-endian words w0..w3 reversed, so w0 is in bits 96..127.
TORVANE_PMULL_TARGET inline uint64x2_t Block(const unsigned char* q) {
  const uint32x4_t w = vrev64q_u32(vreinterpretq_u32_u8(vld1q_u8(q)));
  return vreinterpretq_u64_u32(vextq_u32(w, w, 2));
}

// a * x^(128 or 512) mod-equivalent, plus the next block: the upper half times the constant of
// k's upper lane, the lower half times its lower one; both products are below 96 bits.
TORVANE_PMULL_TARGET inline uint64x2_t Fold(uint64x2_t a, poly64x2_t k, uint64x2_t next) {
  const poly128_t hi = vmull_high_p64(vreinterpretq_p64_u64(a), k);
  const poly128_t lo = vmull_p64(static_cast<poly64_t>(vgetq_lane_u64(a, 0)),
                                 static_cast<poly64_t>(vgetq_lane_p64(k, 0)));
  return veorq_u64(veorq_u64(vreinterpretq_u64_p128(hi), vreinterpretq_u64_p128(lo)), next);
}

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

// Same folding as the x86-64 carry-less path: the accumulator stands for everything so far, and
// its remainder (times x^32, as the register keeps it) is two CRC32 instructions at the end,
// then the words left over. Every core with the crypto extension has them in practice (ARMv8.1
// makes them mandatory); the choice of this path asks for both.
TORVANE_PMULL_TARGET uint32_t PmullWords(const unsigned char* p, uint32_t len) {
  if (len < 8) return __rbit(CrcContinue(0xFFFFFFFFu, p, len));
  const poly64x2_t fold128 = vcombine_p64(vcreate_p64(kX128), vcreate_p64(kX192));
  const poly64x2_t fold512 = vcombine_p64(vcreate_p64(kX512), vcreate_p64(kX576));
  // The initial register 0xFFFFFFFF is the same as XORing it onto the first word.
  const uint64x2_t init = vcombine_u64(vcreate_u64(0), vcreate_u64(0xFFFFFFFF00000000ull));
  uint32_t blocks = len / 4;
  uint64x2_t a = veorq_u64(Block(p), init);
  p += 16;
  --blocks;
  if (blocks >= 7) {
    uint64x2_t b = Block(p), c = Block(p + 16), d = Block(p + 32);
    p += 48;
    blocks -= 3;
    for (; blocks >= 4; blocks -= 4, p += 64) {
      a = Fold(a, fold512, Block(p));
      b = Fold(b, fold512, Block(p + 16));
      c = Fold(c, fold512, Block(p + 32));
      d = Fold(d, fold512, Block(p + 48));
    }
    a = Fold(Fold(Fold(a, fold128, b), fold128, c), fold128, d);
  }
  for (; blocks > 0; --blocks, p += 16) a = Fold(a, fold128, Block(p));

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
