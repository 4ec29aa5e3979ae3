// Datagrams of any length and content into a receiving endpoint over a real loopback socket,
// in every receive mode and role, with the supervision thresholds small enough to drop and
// relearn clients, and every copy-out that fits.
//
// Input: byte 0 and 1 choose the endpoint, then a list of operations.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "torvane/torvane.h"
#include "torvane_testing/transport_reset.h"

using namespace TORVANE;

namespace {

int g_peer = -1;
uint16_t g_peer_port = 0;

uint16_t PortOf(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

constexpr int kLengths[] = {4, 5, 7, 33, 129, 614, 807, 1087};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The SDK's console lines would only slow the campaign down.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
  g_peer = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(g_peer, reinterpret_cast<sockaddr*>(&a), sizeof a);
  g_peer_port = PortOf(g_peer);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t a = data[0], b = data[1];
  data += 2;
  size -= 2;
  detail::ResetTransportState();
  transportState.developer = (a & 0x80) != 0;
  const int recv_length = kLengths[a & 7];
  const int send_length = kLengths[(a >> 3) & 7];
  const RecvEnum mode = static_cast<RecvEnum>(b % 3);
  const bool server = (b & 0x04) != 0;
  const bool auto_disconnect = (b & 0x08) != 0;

  std::unique_ptr<UDP> udp;
  if (server) {
    udp = std::make_unique<UDP>(0, send_length, recv_length, auto_disconnect, mode, false);
  } else {
    udp = std::make_unique<UDP>(0, "127.0.0.1", g_peer_port, send_length, recv_length,
                                auto_disconnect, mode);
  }
  if (mode == blockTimeout) udp->SetRecvTimeout(1);
  udp->SetDisconnectTime(1.0f, static_cast<float>((b >> 4) & 7));
  udp->SetAccessibleTime(1.0f, static_cast<float>(b >> 7));
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(PortOf(udp->socketfd));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

  std::vector<char> out(static_cast<size_t>(std::max(recv_length, send_length)) + 8);
  HighState high_state;
  LowState low_state;
  HighCmd high_cmd{};
  LowCmd low_cmd{};
  // Operations: a byte, and for a datagram its length and bytes. The timed path waits its full
  // millisecond when nothing is queued; once per input is enough of that.
  size_t i = 0;
  int queued = 0;
  bool waited = false;
  while (i < size) {
    const uint8_t op = data[i++];
    switch (op % 6) {
      case 0: {  // one datagram from the peer, 0 .. 1200 bytes taken from the input
        if (i + 2 > size) return 0;
        size_t n = (static_cast<size_t>(data[i]) << 8 | data[i + 1]) % 1201;
        i += 2;
        n = std::min(n, size - i);
        sendto(g_peer, data + i, n, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        i += n;
        ++queued;
        break;
      }
      case 1:
      case 2:
        if (mode == blockTimeout && queued == 0) {
          if (waited) break;
          waited = true;
        }
        udp->Recv();
        queued = 0;
        break;
      case 3:
        udp->GetRecv(out.data());
        if (recv_length >= HIGH_STATE_LENGTH) udp->GetRecv(high_state);
        if (recv_length >= LOW_STATE_LENGTH) udp->GetRecv(low_state);
        break;
      case 4:
        if (send_length >= HIGH_CMD_LENGTH) udp->SetSend(high_cmd);
        if (send_length >= LOW_CMD_LENGTH) udp->SetSend(low_cmd);
        udp->Send();
        break;
      case 5: {
        char mask[] = "[maskChkSum]";
        udp->SetSend(mask);
        udp->SetSend(out.data());
        break;
      }
    }
  }
  // Whatever the endpoint sent to the peer is drained, so that runs do not pile up.
  char sink[2048];
  while (recv(g_peer, sink, sizeof sink, MSG_DONTWAIT) > 0) {
  }
  return 0;
}
