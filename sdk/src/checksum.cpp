#include "torvane/checksum.h"

#include "checksum_fold.h"
#include "checksum_paths.h"
#include "datagram/little_endian.h"
#include "torvane_testing/checksum_path.h"

#include <array>
#include <atomic>
#include <cstring>

#if TORVANE_HAVE_ARM_PATHS
#include <sys/auxv.h>
#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define TORVANE_HAVE_CLMUL 1
#endif

namespace TORVANE {
namespace {

using detail::kPolynomial;
using torvane_datagram::LoadLE32;
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

inline uint32_t Step(uint32_t x, int base) {
  return kTable[base + 3][x >> 24] ^ kTable[base + 2][(x >> 16) & 0xFF] ^
         kTable[base + 1][(x >> 8) & 0xFF] ^ kTable[base][x & 0xFF];
}

// Continues the register `crc` over `len` words at p.
uint32_t TableWords(uint32_t crc, const unsigned char* p, uint32_t len) {
  for (; len >= 2; len -= 2, p += 8) {
    crc = Step(crc ^ LoadLE32(p), 4) ^ Step(LoadLE32(p + 4), 0);
  }
  if (len == 1) crc = Step(crc ^ LoadLE32(p), 0);
  return crc;
}

#if TORVANE_HAVE_CLMUL

// Folding with carry-less multiplication (checksum_fold.h); the remainder of the accumulator
// (times x^32, as the register keeps it) is then four table steps.
#define TORVANE_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

struct ClmulOps {
  using Vector = __m128i;
  using Key = __m128i;
  TORVANE_CLMUL_TARGET static __m128i Block(const unsigned char* q) {
    return _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), 0x1B);
  }
  // The initial register 0xFFFFFFFF is the same as XORing it onto the first word.
  TORVANE_CLMUL_TARGET static __m128i First(const unsigned char* q) {
    return _mm_xor_si128(Block(q), _mm_set_epi32(-1, 0, 0, 0));
  }
  TORVANE_CLMUL_TARGET static __m128i Fold(__m128i a, __m128i k, __m128i next) {
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x11), _mm_clmulepi64_si128(a, k, 0x00)), next);
  }
};

TORVANE_CLMUL_TARGET uint32_t ClmulWords(const unsigned char* p, uint32_t len) {
  const __m128i a =
      detail::FoldBlocks<ClmulOps>(p, len, _mm_set_epi64x(detail::kX192, detail::kX128),
                                   _mm_set_epi64x(detail::kX576, detail::kX512));

  alignas(16) uint32_t limbs[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(limbs), a);
  uint32_t crc = Step(limbs[3], 4) ^ Step(limbs[2], 0);
  crc = Step(crc ^ limbs[1], 4) ^ Step(limbs[0], 0);
  return TableWords(crc, p, len % 4);
}

uint32_t ClmulOrTable(const unsigned char* p, uint32_t len) {
  return len >= 8 ? ClmulWords(p, len) : TableWords(0xFFFFFFFFu, p, len);
}

#endif

using detail::ChecksumPath;
using Words = uint32_t (*)(const unsigned char*, uint32_t);

uint32_t TableOnly(const unsigned char* p, uint32_t len) {
  return TableWords(0xFFFFFFFFu, p, len);
}

// The form of each path, or nullptr where this build has none.
Words FormOf(ChecksumPath path) {
  switch (path) {
    case ChecksumPath::Table:
      return &TableOnly;
#if TORVANE_HAVE_CLMUL
    case ChecksumPath::Clmul:
      return &ClmulOrTable;
#endif
#if TORVANE_HAVE_ARM_PATHS
    case ChecksumPath::Pmull:
      return &detail::PmullWords;
    case ChecksumPath::ArmCrc:
      return &detail::ArmCrcWords;
#endif
    default:
      return nullptr;
  }
}

bool ProcessorHas(ChecksumPath path) {
  switch (path) {
    case ChecksumPath::Table:
      return true;
#if TORVANE_HAVE_CLMUL
    case ChecksumPath::Clmul:
      return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
#endif
#if TORVANE_HAVE_ARM_PATHS
    case ChecksumPath::Pmull:
      return detail::HwcapHasPmull(getauxval(AT_HWCAP)) &&
             detail::HwcapHasCrc32(getauxval(AT_HWCAP));
    case ChecksumPath::ArmCrc:
      return detail::HwcapHasCrc32(getauxval(AT_HWCAP));
#endif
    default:
      return false;
  }
}

ChecksumPath Best() {
#if TORVANE_HAVE_CLMUL
  if (ProcessorHas(ChecksumPath::Clmul)) return ChecksumPath::Clmul;
#endif
#if TORVANE_HAVE_ARM_PATHS
  return detail::choose_checksum_path(getauxval(AT_HWCAP));
#else
  return ChecksumPath::Table;
#endif
}

uint32_t ChooseAndRun(const unsigned char* p, uint32_t len);

// The form crc32 runs: chosen on the first call (no static initialisation order to depend on),
// replaced only by detail::force_checksum_path. Every form gives the same values, so a thread
// that still sees the previous one computes the same checksum.
std::atomic<Words> g_words{&ChooseAndRun};
std::atomic<ChecksumPath> g_path{ChecksumPath::Table};

void Use(ChecksumPath path) {
  g_path.store(path, std::memory_order_relaxed);
  g_words.store(FormOf(path), std::memory_order_relaxed);
}

uint32_t ChooseAndRun(const unsigned char* p, uint32_t len) {
  Use(Best());
  return g_words.load(std::memory_order_relaxed)(p, len);
}

}  // namespace

namespace detail {

uint32_t crc32_table(const uint32_t* data, uint32_t len) {
  return TableWords(0xFFFFFFFFu, reinterpret_cast<const unsigned char*>(data), len);
}

bool checksum_path_available(ChecksumPath path) {
  return FormOf(path) != nullptr && ProcessorHas(path);
}

uint32_t crc32_path(ChecksumPath path, const uint32_t* data, uint32_t len) {
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  return checksum_path_available(path) ? FormOf(path)(p, len) : TableOnly(p, len);
}

ChecksumPath checksum_path() {
  if (g_words.load(std::memory_order_relaxed) == &ChooseAndRun) Use(Best());
  return g_path.load(std::memory_order_relaxed);
}

bool force_checksum_path(ChecksumPath path) {
  if (!checksum_path_available(path)) return false;
  Use(path);
  return true;
}

ChecksumPath choose_checksum_path(unsigned long hwcap) {
#if TORVANE_HAVE_ARM_PATHS
  if (HwcapHasPmull(hwcap) && HwcapHasCrc32(hwcap)) return ChecksumPath::Pmull;
  if (HwcapHasCrc32(hwcap)) return ChecksumPath::ArmCrc;
#else
  (void)hwcap;
#endif
  return ChecksumPath::Table;
}

}  // namespace detail

uint32_t crc32(const uint32_t* data, uint32_t len) {
  return g_words.load(std::memory_order_relaxed)(reinterpret_cast<const unsigned char*>(data), len);
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
  torvane_datagram::StoreLE32(buf + len - 4, x);
  if (lock != nullptr) pthread_mutex_unlock(lock);
}

uint32_t decryptCRC(uint32_t v) {
  uint32_t y = byte_swap(v, 0, 2);
  y = byte_swap(y, 1, 2);
  y = byte_swap(y, 0, 3);
  return y ^ kScrambleMask;
}

}  // namespace TORVANE
