// Process-wide state of the transport, shared by every UDP endpoint of the process and used
// without a lock (Recv runs in one thread at a time), and the supervision of one endpoint's link.
#pragma once

#include <netinet/in.h>

namespace TORVANE {

struct TransportState {
  // Where init connects a client, and where a learning Recv puts the sender's address.
  sockaddr_in peerAddr{};
  int disconnectThreshold = 500;  // silent Recv calls before a client is dropped
  int accessibleThreshold = 500;  // silent Recv calls before accessible turns false
  bool developer = false;         // high-level datagrams may carry the plain checksum too
};

extern TransportState transportState;

// Supervision counts of one endpoint's link, advanced and reset by that endpoint's Recv only and
// started afresh by its init. Both counts saturate at 100000.
struct LinkSupervision {
  int idleCount = 0;            // Recv calls since the last valid datagram
  int disconnectCount = 0;      // the same, advanced only while autoDisconnect is on
  bool relistenWindow = false;  // the client was dropped within the last 10 calls
  int relistenCount = 0;        // calls since the window opened
};

}  // namespace TORVANE
