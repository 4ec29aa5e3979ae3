// Test helpers for the endpoint: a plain-socket peer on 127.0.0.1, datagrams built with the
// test's own checksum, and captured console output.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "loopback_port.h"
#include "torvane/transport_state.h"
#include "torvane/udp.h"
#include "torvane_testing/transport_reset.h"
#include "wire_test_util.h"

namespace torvane_test {

// Waits for a real event (data queued on fd), bounded so that a fault fails instead of hanging.
inline bool WaitReadable(int fd, int limit_ms = 5000) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, limit_ms) == 1;
}

class Peer {
 public:
  Peer() {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    port_ = BoundPort(fd_);
  }
  ~Peer() { close(fd_); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  uint16_t port() const { return port_; }
  int fd() const { return fd_; }

  void SendTo(uint16_t port, const void* data, size_t size) const {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(sendto(fd_, data, size, 0, reinterpret_cast<sockaddr*>(&a), sizeof a),
              static_cast<ssize_t>(size));
  }
  void SendTo(uint16_t port, const std::vector<uint8_t>& d) const {
    SendTo(port, d.data(), d.size());
  }

  // The next datagram, or an empty vector if none comes within the limit.
  std::vector<uint8_t> Receive(int limit_ms = 5000) const {
    if (!WaitReadable(fd_, limit_ms)) return {};
    std::vector<uint8_t> buf(70000);
    const ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
    buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buf;
  }
  bool HasPending() const { return WaitReadable(fd_, 0); }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

inline void StoreLE32(uint8_t* p, uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (8 * k));
}

// The scrambled form as a real controller sends it: mask, then rotate right by 8 bits.
inline uint32_t Scrambled(uint32_t crc) {
  const uint32_t m = crc ^ 0x5B3D7E91u;
  return (m >> 8) | (m << 24);
}

// A datagram of `length` bytes with a pattern from `seed`, the header for `level`, and the
// checksum (plain, or scrambled) in its last four bytes.
inline std::vector<uint8_t> Datagram(size_t length, uint8_t level, uint32_t seed, bool scrambled) {
  std::vector<uint8_t> d(length);
  for (size_t i = 0; i < length; ++i) d[i] = static_cast<uint8_t>(seed * 31 + i * 7);
  d[0] = 0xFE;
  d[1] = 0xEF;
  d[2] = level;
  const uint32_t crc = BitwiseCrc(d.data(), static_cast<uint32_t>((length >> 2) - 1));
  StoreLE32(&d[length - 4], scrambled ? Scrambled(crc) : crc);
  return d;
}

inline std::vector<uint8_t> HighStateDatagram(uint32_t seed = 1) {
  return Datagram(1087, 0xEE, seed, true);
}
inline std::vector<uint8_t> LowStateDatagram(uint32_t seed = 1) {
  return Datagram(807, 0xFF, seed, false);
}

inline std::vector<uint8_t> CopyOut(TORVANE::UDP& udp) {
  std::vector<uint8_t> out(static_cast<size_t>(udp.recvLength));
  udp.GetRecv(reinterpret_cast<char*>(out.data()));
  return out;
}

// Every test starts from the start-of-process transport state.
class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override { TORVANE::detail::ResetTransportState(); }
  void TearDown() override { TORVANE::detail::ResetTransportState(); }
};

// Captures standard output (and error) around a block; the SDK flushes every line.
struct Captured {
  std::string out, err;
};
template <typename F>
Captured Capture(F&& body) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  body();
  Captured c;
  c.out = ::testing::internal::GetCapturedStdout();
  c.err = ::testing::internal::GetCapturedStderr();
  return c;
}

}  // namespace torvane_test
