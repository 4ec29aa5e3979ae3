// A plain-socket peer on 127.0.0.1 (the robot's or the client's side of a link, without the
// SDK), and bounded waits on a socket.
#pragma once

#include <poll.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace torvane_test {

// Waits for a real event (data queued on fd), bounded so that a fault fails instead of hanging.
inline bool WaitReadable(int fd, int limit_ms = 5000) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, limit_ms) == 1;
}

// The local port a socket is bound to (0 if none).
uint16_t BoundPort(int fd);

// A port that was free a moment ago, for the few programs and endpoints that must be told a
// fixed local port before they bind it themselves. Anything that can bind port 0 and say which
// port it got (torvane-sim --port 0, an SDK endpoint read back with BoundPort) does that instead.
uint16_t UnusedPort();

class Peer {
 public:
  Peer();  // bound to an automatic port on 127.0.0.1
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  uint16_t port() const { return port_; }
  int fd() const { return fd_; }

  // Sends one datagram to 127.0.0.1:port; a failed or short send fails the current test.
  void SendTo(uint16_t port, const void* data, size_t size) const;
  void SendTo(uint16_t port, const std::vector<uint8_t>& d) const {
    SendTo(port, d.data(), d.size());
  }

  // The next datagram, or an empty vector if none comes within the limit.
  std::vector<uint8_t> Receive(int limit_ms = 5000) const;
  bool HasPending() const { return WaitReadable(fd_, 0); }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace torvane_test
