// The receive path: checks, publication, counters and the supervision of the link.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "console.h"
#include "little_endian.h"
#include "torvane/checksum.h"
#include "torvane/udp.h"

namespace TORVANE {

using detail::Line;

namespace {

constexpr int kSaturation = 100000;
constexpr int kRelistenCalls = 10;

}  // namespace

int UDP::Recv() {
  if (!recvBuf || recvLength < 4) {
    Line("[Error] Recv refused: the endpoint is not set up.");
    return -1;
  }
  TransportState& t = transportState;
  const bool was_connected = connected;

  t.idleCount = std::min(t.idleCount + 1, kSaturation);
  if (was_connected && t.idleCount > t.accessibleThreshold) accessible = false;
  // The window opened in call N stays open during calls N+1 .. N+10.
  if (t.relistenWindow) {
    if (t.relistenCount + 1 > kRelistenCalls) {
      t.relistenWindow = false;
      t.relistenCount = 0;
    } else {
      ++t.relistenCount;
    }
  }
  if (autoDisconnect) {
    t.disconnectCount = std::min(t.disconnectCount + 1, kSaturation);
    if (was_connected && t.disconnectCount > t.disconnectThreshold) {
      DropClient();
      return 1;
    }
  }
  return recvTimeoutMs > 0 ? RecvTimed() : RecvPolled();
}

void UDP::DropClient() {
  TransportState& t = transportState;
  accessible = false;
  connected = false;
  pthread_mutex_lock(&recvMutex);
  std::memset(recvCopy.get(), 0, static_cast<size_t>(recvLength));
  pthread_mutex_unlock(&recvMutex);
  t.relistenWindow = true;
  t.relistenCount = 0;
  // Connecting to an address of unspecified family dissolves the association, so that datagrams
  // from any sender arrive again.
  std::memset(&t.peerAddr, 0, sizeof t.peerAddr);
  t.peerAddr.sin_family = AF_UNSPEC;
  if (connect(socketfd, reinterpret_cast<sockaddr*>(&t.peerAddr), sizeof t.peerAddr) != 0) {
    perror("[ERROR] Connect failed");
  }
  Line("[UDP Disconnected] client! socketfd:%d Old Client IP:%s port:%u", socketfd,
       targetIP.c_str(), static_cast<unsigned>(targetPort));
}

int UDP::RecvTimed() {
  const int fd = socketfd;
  const size_t length = static_cast<size_t>(recvLength);
  timeout.tv_sec = recvTimeoutMs / 1000;
  timeout.tv_usec = (recvTimeoutMs % 1000) * 1000;
  bufferClear.tv_sec = 0;
  bufferClear.tv_usec = 0;
  std::memset(recvBuf.get(), 0, length);
  // select cannot take a descriptor beyond FD_SETSIZE (nor a negative one); poll can.
  const bool use_select = fd >= 0 && fd < FD_SETSIZE;

  bool readable;
  if (use_select) {
    FD_ZERO(&fdOverTime);
    FD_ZERO(&fdClearBuf);
    FD_SET(fd, &fdOverTime);
    FD_SET(fd, &fdClearBuf);
    const int ready = select(fd + 1, &fdOverTime, nullptr, nullptr, &timeout);
    if (ready == 0) {
      udpState.RecvLoseError++;
      return -2;
    }
    // The test is on the set: a wait that failed and left the set as it was goes on.
    readable = FD_ISSET(fd, &fdOverTime);
  } else {
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, recvTimeoutMs);
    if (ready == 0) {
      udpState.RecvLoseError++;
      return -2;
    }
    readable = ready > 0 && (p.revents & POLLIN) != 0;
  }
  if (!readable) return -1;

  pthread_mutex_lock(&sockMutex);
  // Drain without waiting; a failed poll ends the drain rather than spinning on it.
  for (;;) {
    int more;
    if (use_select) {
      FD_SET(fd, &fdClearBuf);
      more = select(fd + 1, &fdClearBuf, nullptr, nullptr, &bufferClear);
    } else {
      pollfd p{fd, POLLIN, 0};
      more = poll(&p, 1, 0);
    }
    if (more <= 0) break;
    if (recv(fd, recvBuf.get(), length, MSG_DONTWAIT) < 0 && errno != EINTR) break;
  }
  return CheckAndPublish(true);
}

int UDP::RecvPolled() {
  TransportState& t = transportState;
  const size_t length = static_cast<size_t>(recvLength);
  std::memset(recvBuf.get(), 0, length);
  pthread_mutex_lock(&sockMutex);

  // MSG_DONTWAIT: a non-timed Recv never waits, even on a socket left blocking.
  if (!drainAll) {
    (void)recv(socketfd, recvBuf.get(), length, MSG_DONTWAIT);
    if (!connected) {
      pthread_mutex_unlock(&sockMutex);
      return -4;
    }
    return CheckAndPublish(false);
  }

  int taken = 0;
  for (;;) {
    if (connected) {
      if (recv(socketfd, recvBuf.get(), length, MSG_DONTWAIT) > 0) {
        ++taken;
        continue;
      }
      if (taken == 0) udpState.RecvLoseError++;
      break;
    }
    socklen_t address_length = sizeof t.peerAddr;
    const ssize_t got = recvfrom(socketfd, recvBuf.get(), length, MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&t.peerAddr), &address_length);
    if (got <= 0) {
      if (taken == 0) udpState.RecvLoseError++;
      pthread_mutex_unlock(&sockMutex);
      return -4;
    }
    if (t.relistenWindow) {  // discarded while the window is open
      ++taken;
      continue;
    }
    if (connect(socketfd, reinterpret_cast<sockaddr*>(&t.peerAddr), sizeof t.peerAddr) != 0) {
      perror("[Error] Connect client failed");
      continue;
    }
    connected = true;
    char address[INET_ADDRSTRLEN] = {0};
    inet_ntop(AF_INET, &t.peerAddr.sin_addr, address, sizeof address);
    targetIP.assign(address);  // at most 15 characters: no allocation
    targetPort = ntohs(t.peerAddr.sin_port);
    Line("[UDP Connected] client! Client IP:%s port:%u", address,
         static_cast<unsigned>(targetPort));
    ++taken;
  }
  return CheckAndPublish(false);
}

// Called with sockMutex held; releases it.
int UDP::CheckAndPublish(bool timed) {
  const uint8_t* buf = recvBuf.get();
  if (buf[0] != HEAD[0] || buf[1] != HEAD[1]) {
    pthread_mutex_unlock(&sockMutex);
    return -1;
  }
  const uint32_t carried = detail::LoadLE32(buf + recvLength - 4);
  const uint32_t computed =
      crc32(reinterpret_cast<const uint32_t*>(buf), covered_words(recvLength));
  // High-level datagrams carry the checksum scrambled; developer mode also takes the plain one.
  const bool valid =
      buf[2] == HIGH_LEVEL_FLAG
          ? decryptCRC(carried) == computed || (transportState.developer && carried == computed)
          : carried == computed;
  if (!valid) {
    udpState.RecvCRCError++;
    pthread_mutex_unlock(&sockMutex);
    return -3;
  }
  pthread_mutex_lock(&recvMutex);
  std::memcpy(recvCopy.get(), buf, static_cast<size_t>(recvLength));
  pthread_mutex_unlock(&recvMutex);
  udpState.RecvCount++;
  // The timed path neither resets the supervision nor marks the link accessible.
  if (!timed) {
    transportState.idleCount = 0;
    accessible = true;
    if (autoDisconnect) transportState.disconnectCount = 0;
  }
  pthread_mutex_unlock(&sockMutex);
  return 0;
}

}  // namespace TORVANE
