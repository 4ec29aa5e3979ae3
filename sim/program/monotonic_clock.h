// The emulator's and the replay's clock: monotonic seconds, as doubles for pacing.
#pragma once

#include <time.h>

namespace torvane_sim {

inline double Now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

}  // namespace torvane_sim
