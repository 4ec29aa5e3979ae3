// The folding both carry-less forms of the packet checksum run (x86-64 and 64-bit ARM): the
// message is a polynomial whose first bit has the highest degree, 128 bits per block, so each
// block holds words w0..w3 with w0 on top. An accumulator A stands for everything so far:
// A * x^128 == A.hi * (x^192 mod P) + A.lo * (x^128 mod P), both products below 96 bits, so the
// next block is XORed on. Long messages fold four blocks at a time with x^512 and x^576.
#pragma once

#include <cstdint>

namespace TORVANE {
namespace detail {

constexpr uint32_t kPolynomial = 0x04C11DB7u;

// x^n mod P, the constants of the folding.
constexpr uint32_t PowerMod(int n) {
  uint32_t r = 1;  // x^0
  for (int i = 0; i < n; ++i) r = (r & 0x80000000u) ? (r << 1) ^ kPolynomial : (r << 1);
  return r;
}

constexpr uint32_t kX128 = PowerMod(128), kX192 = PowerMod(192), kX512 = PowerMod(512),
                   kX576 = PowerMod(576);

// Folds the whole blocks of `len` >= 8 words at p into one accumulator and leaves p at the
// len % 4 words after them. Ops is the processor's: its Vector and Key types, First(q) (the
// first block with the initial register XORed on), Block(q) and Fold(a, k, next) (a times the
// power of k's constants, plus next). Always inlined, so that it runs under its caller's target.
template <typename Ops>
__attribute__((always_inline)) inline typename Ops::Vector FoldBlocks(const unsigned char*& p,
                                                                      uint32_t len,
                                                                      typename Ops::Key fold128,
                                                                      typename Ops::Key fold512) {
  using Vector = typename Ops::Vector;
  uint32_t blocks = len / 4;
  Vector a = Ops::First(p);
  p += 16;
  --blocks;
  if (blocks >= 7) {
    Vector b = Ops::Block(p), c = Ops::Block(p + 16), d = Ops::Block(p + 32);
    p += 48;
    blocks -= 3;
    for (; blocks >= 4; blocks -= 4, p += 64) {
      a = Ops::Fold(a, fold512, Ops::Block(p));
      b = Ops::Fold(b, fold512, Ops::Block(p + 16));
      c = Ops::Fold(c, fold512, Ops::Block(p + 32));
      d = Ops::Fold(d, fold512, Ops::Block(p + 48));
    }
    a = Ops::Fold(Ops::Fold(Ops::Fold(a, fold128, b), fold128, c), fold128, d);
  }
  for (; blocks > 0; --blocks, p += 16) a = Ops::Fold(a, fold128, Ops::Block(p));
  return a;
}

}  // namespace detail
}  // namespace TORVANE
