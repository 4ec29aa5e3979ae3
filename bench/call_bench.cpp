// The C++ cost of the calls that the Python module's hot entries reach, one at a time on an
// endpoint of each level (nothing is sent): the baseline for the binding's own cost per call.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include "torvane/torvane.h"

using namespace TORVANE;

namespace {

template <typename Cmd, typename State>
void Calls(benchmark::State& state, uint8_t level, bool send) {
  // Nothing is sent: any local port, and a peer port (discard) that is never written to.
  UDP udp(level, 0, "127.0.0.1", 9);
  Cmd cmd{};
  State st{};
  udp.InitCmdData(cmd);
  for (auto _ : state) {
    if (send) {
      benchmark::DoNotOptimize(udp.SetSend(cmd));
    } else {
      udp.GetRecv(st);
    }
    benchmark::ClobberMemory();
  }
}

void BM_Call_SetSend_High(benchmark::State& s) {
  Calls<HighCmd, HighState>(s, HIGH_LEVEL_FLAG, true);
}
void BM_Call_SetSend_Low(benchmark::State& s) {
  Calls<LowCmd, LowState>(s, LOW_LEVEL_FLAG, true);
}
void BM_Call_GetRecv_High(benchmark::State& s) {
  Calls<HighCmd, HighState>(s, HIGH_LEVEL_FLAG, false);
}
void BM_Call_GetRecv_Low(benchmark::State& s) {
  Calls<LowCmd, LowState>(s, LOW_LEVEL_FLAG, false);
}

}  // namespace

BENCHMARK(BM_Call_SetSend_High)->Repetitions(5)->MinTime(0.1)->ReportAggregatesOnly(true);
BENCHMARK(BM_Call_SetSend_Low)->Repetitions(5)->MinTime(0.1)->ReportAggregatesOnly(true);
BENCHMARK(BM_Call_GetRecv_High)->Repetitions(5)->MinTime(0.1)->ReportAggregatesOnly(true);
BENCHMARK(BM_Call_GetRecv_Low)->Repetitions(5)->MinTime(0.1)->ReportAggregatesOnly(true);
BENCHMARK_MAIN();
