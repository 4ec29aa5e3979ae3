// A seeded stream of random numbers that gives the same values on every machine and library:
// SplitMix64, and normal values by Box-Muller.
#pragma once

#include <cmath>
#include <cstdint>

namespace torvane_sim {

class RandomStream {
 public:
  // `stream` separates the conditions drawn from one seed.
  // Seed and stream are mixed first, so that neighbouring seeds start far apart in the sequence.
  RandomStream(uint64_t seed, uint64_t stream)
      : state_(Mix(Mix(seed) ^ (stream * 0xD1B54A32D192ED03ull))) {}

  uint64_t Next() { return Mix(state_ += 0x9E3779B97F4A7C15ull); }
  // Uniform in [0, 1).
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  // Standard normal.
  double Normal() {
    if (has_spare_) {
      has_spare_ = false;
      return spare_;
    }
    const double u = 1.0 - Uniform(), v = Uniform();  // u in (0, 1]
    const double r = std::sqrt(-2.0 * std::log(u));
    spare_ = r * std::sin(2.0 * M_PI * v);
    has_spare_ = true;
    return r * std::cos(2.0 * M_PI * v);
  }

 private:
  static uint64_t Mix(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  uint64_t state_;
  double spare_ = 0;
  bool has_spare_ = false;
};

// The streams of the conditions, one each.
enum ConditionStream : uint64_t {
  kStateLatencyStream = 1,
  kCommandLatencyStream,
  kNoiseStream,
  kPushStream,
  kTerrainStream,
};

}  // namespace torvane_sim
