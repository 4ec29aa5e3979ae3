// The loop's helpers allocate nothing per cycle: a recorder that wraps many times, a monitor that
// loses and regains its link, a loop that sleeps and overruns.
#include <gtest/gtest.h>

#include "torvane/flight_recorder.h"
#include "torvane/link_monitor.h"
#include "torvane/periodic_loop.h"
#include "torvane_test/alloc_counter.h"

using namespace TORVANE;

TEST(Allocations, NoneInTheLoopHelpers) {
  LowFlightRecorder low(100);
  HighFlightRecorder high(100);
  LinkMonitor monitor(0.001, 0.005);
  int events = 0;
  monitor.SetCallback([](LinkEvent, const LinkMonitor&, void* n) { ++*static_cast<int*>(n); },
                      &events);
  PeriodicLoop loop(0.0001);
  LowCmd cmd{};
  LowState state{};
  HighCmd hcmd{};
  HighState hstate{};
  const uint64_t before = torvane_test::Allocations();
  for (int i = 0; i < 1000; ++i) {
    const int result = (i / 10) % 2 == 0 ? 0 : -1;
    low.Record(MonotonicSeconds(), cmd, result, state);
    high.Record(MonotonicSeconds(), hcmd, result, hstate);
    monitor.Update(result);
    loop.Wait();
  }
  EXPECT_EQ(torvane_test::Allocations() - before, 0u);
  EXPECT_EQ(low.Recorded(), 1000u);
  EXPECT_GT(events, 0);
}
