// One control cycle on 127.0.0.1 against a peer socket, through the SDK and on the raw floor:
// the same datagrams sent and received with plain sockets and a copy. The peer's part (send a
// state, take the command) is the same in both. Allocations per cycle are counted throughout.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "alloc_counter.h"
#include "torvane/torvane.h"

using namespace TORVANE;

namespace {

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

uint16_t PortOf(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

int BoundSocket(uint16_t port = 0) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  const sockaddr_in a = Loopback(port);
  bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  return fd;
}

uint16_t FreePort() {
  const int fd = BoundSocket();
  const uint16_t port = PortOf(fd);
  close(fd);
  return port;
}

// A valid state datagram of either level: standing joints, checksum as the robot sends it.
std::vector<uint8_t> StateDatagram(bool high) {
  std::vector<uint8_t> d(high ? sizeof(HighState) : sizeof(LowState_refine));
  if (high) {
    HighState s{};
    s.head = HEAD;
    s.levelFlag = HIGH_LEVEL_FLAG;
    std::memcpy(d.data(), &s, sizeof s);
  } else {
    LowState_refine s{};
    s.head = HEAD;
    s.levelFlag = LOW_LEVEL_FLAG;
    for (int leg = 0; leg < 4; ++leg) {
      s.motorState[3 * leg + 1].q = 0.67f;
      s.motorState[3 * leg + 2].q = -1.3f;
      s.motorState[3 * leg + 2].tauEst = 512;
    }
    std::memcpy(d.data(), &s, sizeof s);
  }
  const int length = static_cast<int>(d.size());
  const uint32_t crc = crc32(reinterpret_cast<const uint32_t*>(d.data()), covered_words(length));
  std::memcpy(&d[length - 4], &crc, 4);
  if (high) encryptCRC(d.data(), nullptr, static_cast<uint32_t>(length));
  return d;
}

class Link {
 public:
  explicit Link(bool high) : state_(StateDatagram(high)) {
    peer_ = BoundSocket();
    client_port_ = FreePort();
    client_ = Loopback(client_port_);
  }
  ~Link() { close(peer_); }
  uint16_t peer_port() const { return PortOf(peer_); }
  uint16_t client_port() const { return client_port_; }
  // The peer's part of a cycle, before and after the client's.
  void RobotSends() {
    sendto(peer_, state_.data(), state_.size(), 0, reinterpret_cast<const sockaddr*>(&client_),
           sizeof client_);
  }
  void RobotTakes() { recv(peer_, sink_, sizeof sink_, 0); }

 private:
  std::vector<uint8_t> state_;
  int peer_ = -1;
  uint16_t client_port_ = 0;
  sockaddr_in client_{};
  uint8_t sink_[2048];
};

void Report(benchmark::State& state, uint64_t allocations_before) {
  state.counters["allocs_per_cycle"] =
      benchmark::Counter(static_cast<double>(torvane_bench::Allocations() - allocations_before) /
                         static_cast<double>(state.iterations()));
}

void BM_Cycle_Low_Sdk(benchmark::State& state) {
  Link link(false);
  UDP udp(LOW_LEVEL_FLAG, link.client_port(), "127.0.0.1", link.peer_port());
  Safety safety(LeggedType::Zorvan);
  LowCmd cmd{};
  LowState st{};
  LowState_refine standing;  // what the peer sends, so that the guard starts from it
  std::memcpy(&standing, StateDatagram(false).data(), sizeof standing);
  refineState(st, standing);
  udp.InitCmdData(cmd);
  for (int j = 0; j < 12; ++j) {
    cmd.motorCmd[j].q = j % 3 == 1 ? 0.67f : j % 3 == 2 ? -1.3f : 0.0f;
    cmd.motorCmd[j].Kp = 80;
    cmd.motorCmd[j].Kd = 2;
  }
  const uint64_t before = torvane_bench::Allocations();
  for (auto _ : state) {
    link.RobotSends();
    safety.PositionLimit(cmd);
    safety.PowerProtect(cmd, st, 10);
    safety.PositionProtect(cmd, st, 0.0);
    udp.SetSend(cmd);
    udp.Send();
    if (udp.Recv() != 0) state.SkipWithError("no state");
    udp.GetRecv(st);
    link.RobotTakes();
  }
  Report(state, before);
}

void BM_Cycle_High_Sdk(benchmark::State& state) {
  Link link(true);
  UDP udp(HIGH_LEVEL_FLAG, link.client_port(), "127.0.0.1", link.peer_port());
  HighCmd cmd{};
  HighState st{};
  udp.InitCmdData(cmd);
  const uint64_t before = torvane_bench::Allocations();
  for (auto _ : state) {
    link.RobotSends();
    udp.SetSend(cmd);
    udp.Send();
    if (udp.Recv() != 0) state.SkipWithError("no state");
    udp.GetRecv(st);
    link.RobotTakes();
  }
  Report(state, before);
}

// The floor: one send and one receive of the same sizes on a plain connected socket, and a copy
// of the state into a record.
template <size_t CmdBytes, size_t StateBytes>
void Floor(benchmark::State& state, bool high) {
  Link link(high);
  const int fd = BoundSocket(link.client_port());
  const sockaddr_in peer = Loopback(link.peer_port());
  connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  uint8_t command[CmdBytes] = {0xFE, 0xEF};
  uint8_t buffer[StateBytes];
  alignas(8) uint8_t record[StateBytes];
  const uint64_t before = torvane_bench::Allocations();
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
