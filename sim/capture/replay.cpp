#include "capture/replay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "clock/monotonic_clock.h"
#include "datagram/classify.h"
#include "pcap/udp_pcap.h"
#include "program/listen_socket.h"

namespace torvane_sim {
namespace {

using torvane_clock::Now;
using torvane_datagram::Kind;

// 1 for a high-level state, 0 for a low-level one, -1 for anything else (a capture's snap
// length may have cut it).
int StateLevel(const torvane_pcap::Datagram& d) {
  if (d.payload.size() != d.length) return -1;
  const Kind kind = torvane_datagram::ClassifyFrame(d.payload.data(), d.payload.size()).kind;
  return kind == Kind::kHighState ? 1 : kind == Kind::kLowState ? 0 : -1;
}

std::string Address(const sockaddr_in& a) {
  return torvane_pcap::ToString({ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)});
}

// Waits until `deadline` (monotonic seconds) or until the socket is readable.
void WaitReadable(int fd, double deadline) {
  const double left = deadline - Now();
  if (left <= 0) return;
  timespec t{};
  t.tv_sec = static_cast<time_t>(left);
  t.tv_nsec = static_cast<long>((left - static_cast<double>(t.tv_sec)) * 1e9);
  pollfd p{fd, POLLIN, 0};
  ppoll(&p, 1, &t, nullptr);
}

// Reads and drops the client's commands; the capture records them if one is open.
void Drain(int fd) {
  uint8_t buf[2048];
  while (recv(fd, buf, sizeof buf, MSG_DONTWAIT) >= 0) {
  }
}

}  // namespace

bool Replay::Load() {
  std::vector<torvane_pcap::Datagram> all;
  std::string error, cut;
  if (!torvane_pcap::Read(options_.replay_path, all, error, cut)) {
    std::fprintf(stderr, "torvane-sim: cannot read the capture %s: %s\n",
                 options_.replay_path.c_str(), error.c_str());
    return false;
  }
  // A capture whose recorder was killed: replayed up to the cut.
  if (!cut.empty()) {
    std::fprintf(stderr, "torvane-sim: %s: %s\n", options_.replay_path.c_str(), cut.c_str());
  }
  // The robot is whoever sent the most state datagrams.
  std::map<torvane_pcap::Endpoint, std::array<size_t, 2>> states;
  for (const auto& d : all) {
    const int level = StateLevel(d);
    if (level >= 0) ++states[d.from][level];
  }
  size_t best = 0;
  torvane_pcap::Endpoint robot;
  for (const auto& [sender, counts] : states) {
    for (int level = 0; level < 2; ++level) {
      if (counts[level] > best) {
        best = counts[level];
        robot = sender;
        high_ = level == 1;
      }
    }
  }
  if (best == 0) {
    std::fprintf(stderr, "torvane-sim: %s holds no state datagram to replay\n",
                 options_.replay_path.c_str());
    return false;
  }
  if (options_.level_given && options_.high_level != high_) {
    std::fprintf(stderr, "torvane-sim: %s holds %s-level states, not %s-level ones\n",
                 options_.replay_path.c_str(), high_ ? "high" : "low",
                 options_.high_level ? "high" : "low");
    return false;
  }
  // The session starts with the first datagram to or from the robot.
  int64_t origin = INT64_MAX;
  for (const auto& d : all) {
    if ((d.from == robot || d.to == robot) && d.time_us < origin) origin = d.time_us;
  }
  for (auto& d : all) {
    if (d.from == robot) items_.push_back({d.time_us - origin, std::move(d.payload)});
  }
  robot_ = torvane_pcap::ToString(robot);
  // A merged capture may hold records out of time order.
  std::stable_sort(items_.begin(), items_.end(),
                   [](const Item& a, const Item& b) { return a.offset_us < b.offset_us; });
  return true;
}

bool Replay::WaitForClient(int fd, const volatile std::sig_atomic_t& stop, double give_up) {
  const Kind command = high_ ? Kind::kHighCmd : Kind::kLowCmd;
  bool warned = false;
  std::vector<uint8_t> buf;
  while (stop == 0 && (give_up <= 0 || Now() < give_up)) {
    WaitReadable(fd, Now() + 0.1);
    buf.assign(2048, 0);
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    const ssize_t got = recvfrom(fd, buf.data(), buf.size(), MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &from_length);
    if (got < 0) continue;
    buf.resize(static_cast<size_t>(got));
    if (torvane_datagram::ClassifyFrame(buf.data(), buf.size()).kind == command) {
      if (connect(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
        std::fprintf(stderr, "torvane-sim: cannot answer %s: %s\n", Address(from).c_str(),
                     std::strerror(errno));
        continue;
      }
      std::printf("torvane-sim: replaying to %s\n", Address(from).c_str());
      std::fflush(stdout);
      return true;
    }
    if (!warned) {
      std::printf("torvane-sim: ignoring %zd bytes from %s: not a %s-level command\n", got,
                  Address(from).c_str(), high_ ? "high" : "low");
      std::fflush(stdout);
      warned = true;
    }
  }
  return false;
}

int Replay::Run(const volatile std::sig_atomic_t& stop) {
  const int fd = ListenSocket(options_.address, options_.port);
  if (fd < 0) return 1;
  const double length_s = items_.empty() ? 0.0 : items_.back().offset_us * 1e-6;
  std::printf("torvane-sim: replay of %s: %zu %s-level datagrams of %s over %.3f s, on %s:%u\n",
              options_.replay_path.c_str(), items_.size(), high_ ? "high" : "low", robot_.c_str(),
              length_s, options_.address.c_str(), static_cast<unsigned>(ListeningPort(fd)));
  std::fflush(stdout);

  const double give_up = options_.duration_s > 0 ? Now() + options_.duration_s : 0.0;
  size_t sent = 0, failed = 0;
  if (WaitForClient(fd, stop, give_up)) {
    const double start = Now();
    for (const Item& item : items_) {
      const double due = start + static_cast<double>(item.offset_us) * 1e-6;
      while (stop == 0 && Now() < due) {
        WaitReadable(fd, due);
        Drain(fd);
      }
      if (stop != 0) break;
      if (send(fd, item.payload.data(), item.payload.size(), 0) >= 0) {
        ++sent;
      } else {
        ++failed;
      }
    }
    Drain(fd);
  }
  close(fd);
  std::printf("torvane-sim: replayed %zu of %zu datagrams (%zu not delivered)\n", sent,
              items_.size(), failed);
  std::fflush(stdout);
  return 0;
}

}  // namespace torvane_sim
