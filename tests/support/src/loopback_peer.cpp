#include "torvane_test/loopback_peer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace torvane_test {
namespace {

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

}  // namespace

uint16_t BoundPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

uint16_t UnusedPort() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  const sockaddr_in a = Loopback(0);
  bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  const uint16_t port = BoundPort(fd);
  close(fd);
  return port;
}

Peer::Peer() {
  fd_ = socket(AF_INET, SOCK_DGRAM, 0);
  const sockaddr_in a = Loopback(0);
  bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  port_ = BoundPort(fd_);
}

Peer::~Peer() {
  close(fd_);
}

void Peer::SendTo(uint16_t port, const void* data, size_t size) const {
  const sockaddr_in a = Loopback(port);
  ASSERT_EQ(sendto(fd_, data, size, 0, reinterpret_cast<const sockaddr*>(&a), sizeof a),
            static_cast<ssize_t>(size));
}

std::vector<uint8_t> Peer::Receive(int limit_ms) const {
  if (!WaitReadable(fd_, limit_ms)) return {};
  std::vector<uint8_t> buf(70000);
  const ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
  buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return buf;
}

}  // namespace torvane_test
