// The packet checksum at each datagram length: ours, the bitwise definition, the portable table
// form, and zlib's crc32 over the same bytes (a well-tuned table CRC, the practical anchor).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "torvane/checksum.h"
#include "torvane_testing/checksum_path.h"

namespace {

const std::vector<uint8_t>& Data() {
  static const std::vector<uint8_t> data = [] {
    std::vector<uint8_t> d(1100);
    std::mt19937 rng(1);
    for (auto& b : d) b = static_cast<uint8_t>(rng());
    return d;
  }();
  return data;
}

uint32_t Bitwise(const uint8_t* p, uint32_t words) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint32_t k = 0; k < words; ++k) {
    const uint32_t w = p[4 * k] | p[4 * k + 1] << 8 | p[4 * k + 2] << 16 |
                       static_cast<uint32_t>(p[4 * k + 3]) << 24;
    for (int b = 31; b >= 0; --b) {
      const uint32_t top = crc >> 31;
      crc <<= 1;
      if (top != ((w >> b) & 1u)) crc ^= 0x04C11DB7u;
    }
  }
  return crc;
}

uint32_t Words(const benchmark::State& state) {
  return TORVANE::covered_words(static_cast<int>(state.range(0)));
}

void BM_Crc_Ours(benchmark::State& state) {
  const auto* p = reinterpret_cast<const uint32_t*>(Data().data());
  const uint32_t words = Words(state);
  for (auto _ : state) benchmark::DoNotOptimize(TORVANE::crc32(p, words));
  state.SetBytesProcessed(state.iterations() * words * 4);
}

void BM_Crc_Table(benchmark::State& state) {
  const auto* p = reinterpret_cast<const uint32_t*>(Data().data());
  const uint32_t words = Words(state);
  for (auto _ : state) benchmark::DoNotOptimize(TORVANE::detail::crc32_table(p, words));
  state.SetBytesProcessed(state.iterations() * words * 4);
}

void BM_Crc_Bitwise(benchmark::State& state) {
  const uint32_t words = Words(state);
  for (auto _ : state) benchmark::DoNotOptimize(Bitwise(Data().data(), words));
  state.SetBytesProcessed(state.iterations() * words * 4);
}

void BM_Crc_Zlib(benchmark::State& state) {
  const uint32_t words = Words(state);
  for (auto _ : state) benchmark::DoNotOptimize(::crc32(0, Data().data(), words * 4));
  state.SetBytesProcessed(state.iterations() * words * 4);
}

}  // namespace

#define TORVANE_LENGTHS ->Arg(129)->Arg(614)->Arg(807)->Arg(1087)
BENCHMARK(BM_Crc_Ours) TORVANE_LENGTHS;
BENCHMARK(BM_Crc_Table) TORVANE_LENGTHS;
BENCHMARK(BM_Crc_Bitwise) TORVANE_LENGTHS;
BENCHMARK(BM_Crc_Zlib) TORVANE_LENGTHS;
BENCHMARK_MAIN();
