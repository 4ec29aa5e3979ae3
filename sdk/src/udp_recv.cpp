// The receive path: checks, publication, counters and the supervision of the link.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "console.h"
#include "datagram/classify.h"
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
  const TransportState& t = transportState;
  LinkSupervision& l = supervision;
  const bool was_connected = connected;

  l.idleCount = std::min(l.idleCount + 1, kSaturation);
  if (was_connected && l.idleCount > t.accessibleThreshold) accessible = false;
  // The window opened in call N stays open during calls N+1 .. N+10.
  if (l.relistenWindow) {
    if (l.relistenCount + 1 > kRelistenCalls) {
      l.relistenWindow = false;
      l.relistenCount = 0;
    } else {
      ++l.relistenCount;
    }
  }
  if (autoDisconnect) {
    l.disconnectCount = std::min(l.disconnectCount + 1, kSaturation);
    if (was_connected && l.disconnectCount > t.disconnectThreshold) {
      DropClient();
      return 1;
    }
  }
  return recvTimeoutMs > 0 ? RecvTimed() : RecvPolled();
}

void UDP::DropClient() {
  sockaddr_in& peer = transportState.peerAddr;
  accessible = false;
  connected = false;
  pthread_mutex_lock(&recvMutex);
  std::memset(recvCopy.get(), 0, static_cast<size_t>(recvLength));
  pthread_mutex_unlock(&recvMutex);
  supervision.relistenWindow = true;
  supervision.relistenCount = 0;
  sockaddr_in before{};
  socklen_t before_length = sizeof before;
  if (getsockname(socketfd, reinterpret_cast<sockaddr*>(&before), &before_length) != 0) {
    before.sin_port = 0;
  }
  // Connecting to an address of unspecified family dissolves the association, so that datagrams
  // from any sender arrive again.
  std::memset(&peer, 0, sizeof peer);
  peer.sin_family = AF_UNSPEC;
  if (connect(socketfd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
    perror("[ERROR] Connect failed");
  }
  KeepLocalPort(before);
  Line("[UDP Disconnected] client! socketfd:%d Old Client IP:%s port:%u", socketfd,
       targetIP.c_str(), static_cast<unsigned>(targetPort));
}

// Linux releases a port it assigned automatically (a bind to port 0) when the association is
// dissolved, and the endpoint would hear nothing more: bind the socket to that port again.
void UDP::KeepLocalPort(const sockaddr_in& before) {
  if (before.sin_port == 0) return;
  sockaddr_in after{};
  socklen_t length = sizeof after;
  if (getsockname(socketfd, reinterpret_cast<sockaddr*>(&after), &length) != 0) return;
  if (after.sin_port != 0) return;
  after.sin_family = AF_INET;
  after.sin_port = before.sin_port;
  if (bind(socketfd, reinterpret_cast<sockaddr*>(&after), sizeof after) != 0) {
    perror("[Error] Bind client ip&port failed");
  }
}

// A datagram from a sender while no client is known, in recvBuf with its sender in peerAddr
// (sockMutex held). It is discarded in the relisten window; one that fails the checks of
// publication is counted like a rejected publication (check gets -1 or -3) and teaches nothing;
// a valid one makes its sender the client, whose link starts with fresh counts.
UDP::Stranger UDP::TakeFromStranger(int& check) {
  sockaddr_in& peer = transportState.peerAddr;
  if (supervision.relistenWindow) return Stranger::kDiscarded;
  check = Check();
  if (check != 0) {
    if (check == -3) udpState.RecvCRCError++;
    return Stranger::kRejected;
  }
  if (connect(socketfd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
    perror("[Error] Connect client failed");
    return Stranger::kConnectFailed;
  }
  connected = true;
  supervision.idleCount = 0;
  supervision.disconnectCount = 0;
  char address[INET_ADDRSTRLEN] = {0};
  inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
  targetIP.assign(address);  // at most 15 characters: no allocation
  targetPort = ntohs(peer.sin_port);
  Line("[UDP Connected] client! Client IP:%s port:%u", address, static_cast<unsigned>(targetPort));
  return Stranger::kLearned;
}

int UDP::RecvTimed() {
  const int fd = socketfd;
  const size_t length = static_cast<size_t>(recvLength);
  sockaddr_in& peer = transportState.peerAddr;
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
  // Drain without waiting; a failed poll ends the drain rather than spinning on it. Without a
  // client, each datagram is taken with its sender and may teach the client, as in the drain of
  // the non-timed path.
  int taken = 0;
  int rejected = 0;
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
    if (connected) {
      if (recv(fd, recvBuf.get(), length, MSG_DONTWAIT) < 0 && errno != EINTR) break;
      continue;
    }
    socklen_t address_length = sizeof peer;
    const ssize_t got = recvfrom(fd, recvBuf.get(), length, MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&peer), &address_length);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    int check = 0;
    const Stranger s = TakeFromStranger(check);
    if (s == Stranger::kConnectFailed) continue;
    ++taken;
    if (s == Stranger::kRejected) rejected = check;
  }
  if (!connected) {
    if (taken == 0) udpState.RecvLoseError++;
    pthread_mutex_unlock(&sockMutex);
    return rejected != 0 ? rejected : -4;
  }
  return CheckAndPublish();
}

int UDP::RecvPolled() {
  sockaddr_in& peer = transportState.peerAddr;
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
    return CheckAndPublish();
  }

  int taken = 0;
  int rejected = 0;  // the check of the last datagram that failed to teach a client
  for (;;) {
    if (connected) {
      if (recv(socketfd, recvBuf.get(), length, MSG_DONTWAIT) > 0) {
        ++taken;
        continue;
      }
      if (taken == 0) udpState.RecvLoseError++;
      break;
    }
    socklen_t address_length = sizeof peer;
    const ssize_t got = recvfrom(socketfd, recvBuf.get(), length, MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&peer), &address_length);
    if (got <= 0) {
      if (taken == 0) udpState.RecvLoseError++;
      pthread_mutex_unlock(&sockMutex);
      return rejected != 0 ? rejected : -4;
    }
    int check = 0;
    const Stranger s = TakeFromStranger(check);
    if (s == Stranger::kConnectFailed) continue;
    ++taken;
    if (s == Stranger::kRejected) rejected = check;
  }
  return CheckAndPublish();
}

// 0 when recvBuf holds a valid datagram, -1 for a wrong header, -3 for a wrong checksum.
int UDP::Check() const {
  const uint8_t* buf = recvBuf.get();
  if (buf[0] != HEAD[0] || buf[1] != HEAD[1]) return -1;
  const torvane_datagram::ChecksumMatch m = torvane_datagram::MatchChecksum(
      buf, static_cast<size_t>(recvLength), torvane_datagram::ChecksumFunctions{crc32, decryptCRC});
  // High-level datagrams carry the checksum scrambled; developer mode also takes the plain one.
  const bool valid =
      buf[2] == HIGH_LEVEL_FLAG ? m.scrambled || (transportState.developer && m.plain) : m.plain;
  return valid ? 0 : -3;
}

// Called with sockMutex held; releases it. A valid datagram on either path is published and
// proves the link alive.
int UDP::CheckAndPublish() {
  const int check = Check();
  if (check != 0) {
    if (check == -3) udpState.RecvCRCError++;
    pthread_mutex_unlock(&sockMutex);
    return check;
  }
  pthread_mutex_lock(&recvMutex);
  std::memcpy(recvCopy.get(), recvBuf.get(), static_cast<size_t>(recvLength));
  pthread_mutex_unlock(&recvMutex);
  udpState.RecvCount++;
  supervision.idleCount = 0;
  accessible = true;
  if (autoDisconnect) supervision.disconnectCount = 0;
  pthread_mutex_unlock(&sockMutex);
  return 0;
}

}  // namespace TORVANE
