// The control cycle both cycle measurements run on 127.0.0.1: a peer socket that plays the robot
// (sends a valid state, takes the command) and the client's cycle through the SDK, guard included.
#pragma once

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "torvane/torvane.h"

namespace torvane_bench {

inline sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

inline uint16_t PortOf(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

inline int BoundSocket(uint16_t port = 0) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  const sockaddr_in a = Loopback(port);
  bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  return fd;
}

// A valid state datagram of either level: standing joints, checksum as the robot sends it.
inline std::vector<uint8_t> StateDatagram(bool high) {
  using namespace TORVANE;
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

// The robot's side: a bound peer socket, and the client's port once the client has bound one.
class Link {
 public:
  explicit Link(bool high) : state_(StateDatagram(high)) { peer_ = BoundSocket(); }
  ~Link() { close(peer_); }
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;
  uint16_t peer_port() const { return PortOf(peer_); }
  uint16_t client_port() const { return client_port_; }
  // The client's endpoint socket, bound to a port of the system's choosing.
  void ClientOn(int client_fd) {
    client_port_ = PortOf(client_fd);
    client_ = Loopback(client_port_);
  }
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

// The client's part of a cycle after its command is made: send it, take the state the peer sent,
// and let the peer take the command. Returns what Recv returned (0: a state came).
template <typename Cmd, typename State>
int Exchange(Link& link, TORVANE::UDP& udp, Cmd& cmd, State& st) {
  udp.SetSend(cmd);
  udp.Send();
  const int received = udp.Recv();
  udp.GetRecv(st);
  link.RobotTakes();
  return received;
}

// The low-level client of a Link: the guard starts from the state the peer sends, the command
// holds the standing pose.
struct LowClient {
  LowClient()
      : udp(TORVANE::LOW_LEVEL_FLAG, 0, "127.0.0.1", link.peer_port()),
        safety(TORVANE::LeggedType::Zorvan) {
    link.ClientOn(udp.socketfd);
    TORVANE::LowState_refine standing;
    std::memcpy(&standing, StateDatagram(false).data(), sizeof standing);
    TORVANE::refineState(st, standing);
    udp.InitCmdData(cmd);
    for (int j = 0; j < 12; ++j) {
      cmd.motorCmd[j].q = j % 3 == 1 ? 0.67f : j % 3 == 2 ? -1.3f : 0.0f;
      cmd.motorCmd[j].Kp = 80;
      cmd.motorCmd[j].Kd = 2;
    }
  }
  // One cycle: the guard, send, receive. Returns what Recv returned (0: a state came).
  int Cycle() {
    link.RobotSends();
    safety.PositionLimit(cmd);
    safety.PowerProtect(cmd, st, 10);
    safety.PositionProtect(cmd, st, 0.0);
    return Exchange(link, udp, cmd, st);
  }

  Link link{false};
  TORVANE::UDP udp;
  TORVANE::Safety safety;
  TORVANE::LowCmd cmd{};
  TORVANE::LowState st{};
};

// The high-level client of a Link, standing still.
struct HighClient {
  HighClient() : udp(TORVANE::HIGH_LEVEL_FLAG, 0, "127.0.0.1", link.peer_port()) {
    link.ClientOn(udp.socketfd);
    udp.InitCmdData(cmd);
  }
  // One cycle: send, receive. Returns what Recv returned (0: a state came).
  int Cycle() {
    link.RobotSends();
    return Exchange(link, udp, cmd, st);
  }

  Link link{true};
  TORVANE::UDP udp;
  TORVANE::HighCmd cmd{};
  TORVANE::HighState st{};
};

}  // namespace torvane_bench
