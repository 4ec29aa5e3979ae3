// One timed loop in C++ for bench/loop_period.py: prints each wake-up's time since the one before
// [ns], one per line, for `cycles` cycles of an empty body at `rate_hz`.
//   loop_period periodic|sleep_for <rate_hz> <cycles>
// periodic: PeriodicLoop (absolute deadlines); sleep_for: the common naive loop, sleeping one
// period after each body with std::this_thread::sleep_for.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "torvane/periodic_loop.h"

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[1], "periodic") != 0 && std::strcmp(argv[1], "sleep_for"))) {
    std::fprintf(stderr, "usage: loop_period periodic|sleep_for <rate_hz> <cycles>\n");
    return 2;
  }
  const double rate = std::atof(argv[2]);
  const long cycles = std::atol(argv[3]);
  if (!(rate > 0) || cycles < 2) {
    std::fprintf(stderr, "loop_period: the rate must be above 0 and the cycles at least 2\n");
    return 2;
  }
  std::vector<double> wake(static_cast<size_t>(cycles));
  if (std::strcmp(argv[1], "periodic") == 0) {
    TORVANE::PeriodicLoop loop(1.0 / rate);
    long i = 0;
    loop.Run(static_cast<uint64_t>(cycles),
             [&] { wake[static_cast<size_t>(i++)] = TORVANE::MonotonicSeconds(); });
  } else {
    const auto period = std::chrono::nanoseconds(static_cast<long long>(1e9 / rate));
    for (long i = 0; i < cycles; ++i) {
      wake[static_cast<size_t>(i)] = TORVANE::MonotonicSeconds();
      std::this_thread::sleep_for(period);
    }
  }
  for (size_t i = 1; i < wake.size(); ++i) {
    std::printf("%.0f\n", (wake[i] - wake[i - 1]) * 1e9);
  }
  return 0;
}
