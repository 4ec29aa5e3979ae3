// A fixed number of control cycles, or of checksums of a 1087-byte datagram, and nothing else:
// run under the emulator with the instruction-count plugin at two counts, the difference over
// the difference of counts is the user-space instructions of one. Same loop as the cycle
// benchmark: the peer sends a state, the client runs its cycle, the peer takes the command.
//   cycle_count low|high|crc1087 <count> [table|clmul|pmull|armcrc]
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

int BoundSocket() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  const sockaddr_in a = Loopback(0);
  bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  return fd;
}

uint16_t PortOf(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

// A valid state datagram with its checksum as the robot sends it.
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

struct Peer {
  explicit Peer(bool high) : state(StateDatagram(high)), fd(BoundSocket()) {
    const int probe = BoundSocket();
    client_port = PortOf(probe);
    close(probe);
    client = Loopback(client_port);
  }
  ~Peer() { close(fd); }
  void Sends() {
    sendto(fd, state.data(), state.size(), 0, reinterpret_cast<const sockaddr*>(&client),
           sizeof client);
  }
  void Takes() { recv(fd, sink, sizeof sink, 0); }
  std::vector<uint8_t> state;
  int fd;
  uint16_t client_port = 0;
  sockaddr_in client{};
  uint8_t sink[2048];
};

int Low(long count) {
  Peer peer(false);
  UDP udp(LOW_LEVEL_FLAG, peer.client_port, "127.0.0.1", PortOf(peer.fd));
  Safety safety(LeggedType::Zorvan);
  LowCmd cmd{};
  LowState st{};
  LowState_refine standing;
  std::memcpy(&standing, peer.state.data(), sizeof standing);
  refineState(st, standing);
  udp.InitCmdData(cmd);
  for (int j = 0; j < 12; ++j) {
    cmd.motorCmd[j].q = j % 3 == 1 ? 0.67f : j % 3 == 2 ? -1.3f : 0.0f;
    cmd.motorCmd[j].Kp = 80;
    cmd.motorCmd[j].Kd = 2;
  }
  for (long i = 0; i < count; ++i) {
    peer.Sends();
    safety.PositionLimit(cmd);
    safety.PowerProtect(cmd, st, 10);
    safety.PositionProtect(cmd, st, 0.0);
    udp.SetSend(cmd);
    udp.Send();
    if (udp.Recv() != 0) return 1;
    udp.GetRecv(st);
    peer.Takes();
  }
  return 0;
}

int High(long count) {
  Peer peer(true);
  UDP udp(HIGH_LEVEL_FLAG, peer.client_port, "127.0.0.1", PortOf(peer.fd));
  HighCmd cmd{};
  HighState st{};
  udp.InitCmdData(cmd);
  for (long i = 0; i < count; ++i) {
    peer.Sends();
    udp.SetSend(cmd);
    udp.Send();
    if (udp.Recv() != 0) return 1;
    udp.GetRecv(st);
    peer.Takes();
  }
  return 0;
}

int Checksums(long count) {
  std::vector<uint8_t> d(1087);
  for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(i * 131 + 7);
  volatile uint32_t sink = 0;
  const auto* words = reinterpret_cast<const uint32_t*>(d.data());
  for (long i = 0; i < count; ++i) sink = crc32(words, covered_words(1087));
  (void)sink;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  const long count = argc > 2 ? std::strtol(argv[2], nullptr, 10) : -1;
  if (argc > 3) {
    const std::string name = argv[3];
    const auto path = name == "table"    ? detail::ChecksumPath::Table
                      : name == "clmul"  ? detail::ChecksumPath::Clmul
                      : name == "pmull"  ? detail::ChecksumPath::Pmull
                      : name == "armcrc" ? detail::ChecksumPath::ArmCrc
                                         : static_cast<detail::ChecksumPath>(-1);
    if (!detail::force_checksum_path(path)) {
      std::fprintf(stderr, "cycle_count: checksum path %s is not available here\n", argv[3]);
      return 2;
    }
  }
  if (count < 0 || argc > 4 || (what != "low" && what != "high" && what != "crc1087")) {
    std::fprintf(stderr,
                 "usage: cycle_count low|high|crc1087 <count> [table|clmul|pmull|armcrc]\n");
    return 2;
  }
  const int rc = what == "low" ? Low(count) : what == "high" ? High(count) : Checksums(count);
  if (rc != 0) std::fprintf(stderr, "cycle_count: no state arrived\n");
  return rc;
}
