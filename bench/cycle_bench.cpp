// One control cycle on 127.0.0.1 against a peer socket, through the SDK and on the raw floor:
// the same datagrams sent and received with plain sockets and a copy. The peer's part (send a
// state, take the command) is the same in both. Allocations per cycle are counted throughout.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "cycle_setup.h"
#include "torvane/torvane.h"
#include "torvane_test/alloc_counter.h"

using namespace TORVANE;
using namespace torvane_bench;

namespace {

void Report(benchmark::State& state, uint64_t allocations_before) {
  state.counters["allocs_per_cycle"] =
      benchmark::Counter(static_cast<double>(torvane_test::Allocations() - allocations_before) /
                         static_cast<double>(state.iterations()));
}

template <typename Client>
void SdkCycle(benchmark::State& state) {
  Client client;
  const uint64_t before = torvane_test::Allocations();
  for (auto _ : state) {
    if (client.Cycle() != 0) state.SkipWithError("no state");
  }
  Report(state, before);
}

void BM_Cycle_Low_Sdk(benchmark::State& state) {
  SdkCycle<LowClient>(state);
}
void BM_Cycle_High_Sdk(benchmark::State& state) {
  SdkCycle<HighClient>(state);
}

// The floor: one send and one receive of the same sizes on a plain connected socket, and a copy
// of the state into a record.
template <size_t CmdBytes, size_t StateBytes>
void Floor(benchmark::State& state, bool high) {
  Link link(high);
  const int fd = BoundSocket();
  link.ClientOn(fd);
  const sockaddr_in peer = Loopback(link.peer_port());
  connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  uint8_t command[CmdBytes] = {0xFE, 0xEF};
  uint8_t buffer[StateBytes];
  alignas(8) uint8_t record[StateBytes];
  const uint64_t before = torvane_test::Allocations();
  for (auto _ : state) {
    link.RobotSends();
    send(fd, command, sizeof command, 0);
    if (recv(fd, buffer, sizeof buffer, 0) != static_cast<ssize_t>(StateBytes)) {
      state.SkipWithError("no state");
    }
    std::memcpy(record, buffer, sizeof record);
    benchmark::DoNotOptimize(record);
    link.RobotTakes();
  }
  Report(state, before);
  close(fd);
}

void BM_Cycle_Low_Floor(benchmark::State& state) {
  Floor<614, 807>(state, false);
}
void BM_Cycle_High_Floor(benchmark::State& state) {
  Floor<129, 1087>(state, true);
}

}  // namespace

BENCHMARK(BM_Cycle_Low_Floor)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Cycle_Low_Sdk)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Cycle_High_Floor)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Cycle_High_Sdk)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK_MAIN();
