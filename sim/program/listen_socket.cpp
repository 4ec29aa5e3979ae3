#include "program/listen_socket.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "capture/capture.h"

namespace torvane_sim {

int ListenSocket(const std::string& address, uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  inet_pton(AF_INET, address.c_str(), &local.sin_addr);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    std::fprintf(stderr, "torvane-sim: cannot listen on %s:%u: %s\n", address.c_str(),
                 static_cast<unsigned>(port), std::strerror(errno));
    if (fd >= 0) close(fd);
    return -1;
  }
  WatchSocket(fd);
  return fd;
}

uint16_t ListeningPort(int fd) {
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
  return ntohs(local.sin_port);
}

}  // namespace torvane_sim
