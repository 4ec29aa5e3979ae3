// What the loop's helpers cost per cycle: the link monitor's Update and the flight recorder's
// Record at both levels, with a ring of 2 s at 500 Hz (larger than the caches, as in use). The
// report divides them by the C++ cycle of cycle_bench, measured in the same run.
#include <benchmark/benchmark.h>

#include "torvane/flight_recorder.h"
#include "torvane/link_monitor.h"
#include "torvane/periodic_loop.h"

using namespace TORVANE;

namespace {

void BM_Helper_MonitorUpdate(benchmark::State& state) {
  LinkMonitor monitor(0.002, 0.1);
  int i = 0;
  for (auto _ : state) {
    // Mostly valid states, with a gap now and then, as on a real link.
    benchmark::DoNotOptimize(monitor.Update((++i & 63) == 0 ? -1 : 0));
  }
}

template <typename Recorder, typename Cmd, typename State>
void Record(benchmark::State& state) {
  Recorder recorder(Recorder::CapacityFor(2.0, 500.0));
  Cmd cmd{};
  State robot{};
  double t = 0;
  for (auto _ : state) {
    t += 0.002;
    recorder.Record(t, cmd, 0, robot);
    benchmark::ClobberMemory();
  }
}

void BM_Helper_RecordLow(benchmark::State& state) {
  Record<LowFlightRecorder, LowCmd, LowState>(state);
}
void BM_Helper_RecordHigh(benchmark::State& state) {
  Record<HighFlightRecorder, HighCmd, HighState>(state);
}
// The time a recorder entry is stamped with.
void BM_Helper_MonotonicSeconds(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(MonotonicSeconds());
}

}  // namespace

BENCHMARK(BM_Helper_MonitorUpdate)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Helper_RecordLow)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Helper_RecordHigh)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Helper_MonotonicSeconds)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK_MAIN();
