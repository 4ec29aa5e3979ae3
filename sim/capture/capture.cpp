#include "capture/capture.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>

#include "clock/monotonic_clock.h"
#include "pcap/udp_pcap.h"

extern "C" {
ssize_t __real_send(int fd, const void* buf, size_t n, int flags);
ssize_t __real_sendto(int fd, const void* buf, size_t n, int flags, const sockaddr* to,
                      socklen_t to_length);
ssize_t __real_recvfrom(int fd, void* buf, size_t n, int flags, sockaddr* from,
                        socklen_t* from_length);
ssize_t __wrap_send(int fd, const void* buf, size_t n, int flags);
ssize_t __wrap_sendto(int fd, const void* buf, size_t n, int flags, const sockaddr* to,
                      socklen_t to_length);
ssize_t __wrap_recv(int fd, void* buf, size_t n, int flags);
ssize_t __wrap_recvfrom(int fd, void* buf, size_t n, int flags, sockaddr* from,
                        socklen_t* from_length);
}

namespace torvane_sim {
namespace {

// The process's one capture; the emulator is single-threaded.
torvane_pcap::Writer g_writer;
std::string g_path;
int g_fd = -1;
// A whole datagram, whatever length the caller asked for, so that a long foreign datagram is
// recorded as it came.
uint8_t g_scratch[65536];

torvane_pcap::Endpoint FromSockaddr(const sockaddr_in& a) {
  return {ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)};
}

torvane_pcap::Endpoint Local(int fd) {
  sockaddr_in a{};
  socklen_t n = sizeof a;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) != 0) return {};
  return FromSockaddr(a);
}

torvane_pcap::Endpoint Peer(int fd) {
  sockaddr_in a{};
  socklen_t n = sizeof a;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&a), &n) != 0) return {};
  return FromSockaddr(a);
}

bool Watched(int fd) {
  return fd == g_fd && g_writer.is_open();
}

void RecordSent(int fd, const void* buf, ssize_t sent, const sockaddr* to) {
  if (sent < 0) return;
  torvane_pcap::Endpoint peer = Peer(fd);
  if (to != nullptr && to->sa_family == AF_INET) {
    peer = FromSockaddr(*reinterpret_cast<const sockaddr_in*>(to));
  }
  g_writer.Write(torvane_clock::WallMicroseconds(), Local(fd), peer,
                 static_cast<const uint8_t*>(buf), static_cast<size_t>(sent));
}

}  // namespace

bool OpenCapture(const std::string& path) {
  std::string error;
  if (!g_writer.Open(path, error)) {
    std::fprintf(stderr, "torvane-sim: cannot write the capture %s: %s\n", path.c_str(),
                 error.c_str());
    return false;
  }
  g_path = path;
  return true;
}

void WatchSocket(int fd) {
  g_fd = fd;
}

bool CloseCapture() {
  if (!g_writer.is_open()) return true;
  g_fd = -1;
  if (!g_writer.Close()) {
    std::fprintf(stderr, "torvane-sim: writing the capture %s failed\n", g_path.c_str());
    return false;
  }
  return true;
}

}  // namespace torvane_sim

using torvane_sim::g_scratch;

ssize_t __wrap_send(int fd, const void* buf, size_t n, int flags) {
  const ssize_t sent = __real_send(fd, buf, n, flags);
  if (torvane_sim::Watched(fd)) torvane_sim::RecordSent(fd, buf, sent, nullptr);
  return sent;
}

ssize_t __wrap_sendto(int fd, const void* buf, size_t n, int flags, const sockaddr* to,
                      socklen_t to_length) {
  const ssize_t sent = __real_sendto(fd, buf, n, flags, to, to_length);
  if (torvane_sim::Watched(fd)) torvane_sim::RecordSent(fd, buf, sent, to);
  return sent;
}

ssize_t __wrap_recv(int fd, void* buf, size_t n, int flags) {
  return __wrap_recvfrom(fd, buf, n, flags, nullptr, nullptr);
}

ssize_t __wrap_recvfrom(int fd, void* buf, size_t n, int flags, sockaddr* from,
                        socklen_t* from_length) {
  if (!torvane_sim::Watched(fd) || (flags & MSG_PEEK) != 0) {
    return __real_recvfrom(fd, buf, n, flags, from, from_length);
  }
  sockaddr_in source{};
  socklen_t source_length = sizeof source;
  const ssize_t got = __real_recvfrom(fd, g_scratch, sizeof g_scratch, flags,
                                      reinterpret_cast<sockaddr*>(&source), &source_length);
  if (got < 0) return got;
  const size_t whole = static_cast<size_t>(got);
  torvane_sim::g_writer.Write(torvane_clock::WallMicroseconds(), torvane_sim::FromSockaddr(source),
                              torvane_sim::Local(fd), g_scratch, whole);
  // What the caller would have had from its own call: the first n bytes, a truncating length
  // unless it asked for the whole one, and the sender's address.
  const size_t copied = whole < n ? whole : n;
  std::memcpy(buf, g_scratch, copied);
  if (from != nullptr && from_length != nullptr) {
    const socklen_t k = *from_length < source_length ? *from_length : source_length;
    std::memcpy(from, &source, k);
    *from_length = source_length;
  }
  return (flags & MSG_TRUNC) != 0 ? got : static_cast<ssize_t>(copied);
}
