// The floor under the bridge's added latency: the trip of one datagram between two processes on
// loopback, the hop a state makes from the robot to the bridge before any DDS is involved. This
// program plays both ends:
//   udp_hop echo PORT SECONDS                sends every datagram straight back, for SECONDS
//   udp_hop time PORT SAMPLES [GAP_US]       sends 807-byte datagrams (a low-level state's size)
//                                            to the echo at the bridge benchmark's pace
// The timing end prints "udp_hop: samples N lost L median_us M p99_us P", half the round trip
// (each end blocked in recv, woken by the datagram: no polling); exit 1 if nothing came back.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

int64_t Now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void SleepUntil(int64_t deadline) {
  timespec t{};
  t.tv_sec = static_cast<time_t>(deadline / 1000000000);
  t.tv_nsec = static_cast<long>(deadline % 1000000000);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
  }
}

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  return a;
}

// A receive that gives up after 100 ms, so that neither end can hang.
void SetReceiveTimeout(int fd) {
  timeval t{};
  t.tv_usec = 100000;
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
}

int Echo(int fd, int port, int seconds) {
  const sockaddr_in self = Loopback(port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0) {
    std::perror("udp_hop: bind");
    return 1;
  }
  SetReceiveTimeout(fd);
  uint8_t buf[2048];
  const int64_t end = Now() + static_cast<int64_t>(seconds) * 1000000000;
  while (Now() < end) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&peer), &length);
    if (n > 0)
      sendto(fd, buf, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&peer), length);
  }
  return 0;
}

int Time(int fd, int port, int samples, int64_t gap_ns) {
  const sockaddr_in echo = Loopback(port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&echo), sizeof echo) != 0) {
    std::perror("udp_hop: connect");
    return 1;
  }
  SetReceiveTimeout(fd);
  uint8_t out[807] = {0xFE, 0xEF, 0xFF};
  uint8_t in[2048];
  std::vector<double> us;
  int lost = 0;
  const int warmup = 200;
  for (int seq = 1; seq <= samples + warmup; ++seq) {
    std::memcpy(out + 4, &seq, sizeof seq);
    const int64_t t0 = Now();
    bool matched = false;
    if (send(fd, out, sizeof out, 0) == static_cast<ssize_t>(sizeof out)) {
      // A late echo of an earlier datagram is passed over.
      for (;;) {
        const ssize_t n = recv(fd, in, sizeof in, 0);
        if (n <= 0) break;
        int got = 0;
        std::memcpy(&got, in + 4, sizeof got);
        if (got == seq) {
          matched = true;
          break;
        }
      }
    }
    const int64_t t1 = Now();
    if (seq > warmup) {
      if (matched) {
        us.push_back((t1 - t0) / 2000.0);
      } else {
        ++lost;
      }
    }
    // The same pace as bridge_latency: a gap later, give or take half of it.
    if (gap_ns > 0) SleepUntil(Now() + gap_ns / 2 + (seq * 7919 % 1000) * gap_ns / 1000);
  }
  if (us.empty()) {
    std::printf("udp_hop: nothing came back\n");
    return 1;
  }
  std::sort(us.begin(), us.end());
  const double median = us[us.size() / 2];
  const double p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  std::printf("udp_hop: samples %zu lost %d median_us %.1f p99_us %.1f\n", us.size(), lost, median,
              p99);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool echo = argc == 4 && std::strcmp(argv[1], "echo") == 0;
  const bool time = (argc == 4 || argc == 5) && std::strcmp(argv[1], "time") == 0;
  if (!echo && !time) {
    std::fprintf(stderr, "usage: udp_hop echo PORT SECONDS | udp_hop time PORT SAMPLES [GAP_US]\n");
    return 2;
  }
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) {
    std::perror("udp_hop: socket");
    return 1;
  }
  const int port = std::atoi(argv[2]);
  const int result =
      echo ? Echo(fd, port, std::atoi(argv[3]))
           : Time(fd, port, std::atoi(argv[3]), (argc == 5 ? std::atoi(argv[4]) : 1000) * 1000ll);
  close(fd);
  return result;
}
