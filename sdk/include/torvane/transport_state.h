// Process-wide state of the transport, shared by every UDP endpoint of the process and used
// without a lock (Recv runs in one thread at a time).
#pragma once

#include <netinet/in.h>

namespace TORVANE {

struct TransportState {
  // Where init connects a client, and where a learning Recv puts the sender's address.
  sockaddr_in peerAddr{};
  int disconnectThreshold = 500;  // silent Recv calls before a client is dropped
  int accessibleThreshold = 500;  // silent Recv calls before accessible turns false
  bool developer = false;         // high-level datagrams may carry the plain checksum too
  // Supervision counters, advanced by every Recv on any endpoint; both saturate at 100000.
  int idleCount = 0;
  int disconnectCount = 0;
  bool relistenWindow = false;  // a client was dropped within the last 10 calls
  int relistenCount = 0;
};

extern TransportState transportState;

namespace detail {
// Back to the start-of-process values; for tests, which share one process.
void ResetTransportState();
}  // namespace detail

}  // namespace TORVANE
