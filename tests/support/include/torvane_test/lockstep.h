// One lockstep cycle against torvane-sim: send the command, read the emulator's account of what
// it did with it, wait for the answer where one was sent, and Recv.
#pragma once

#include <string>

#include "torvane/udp.h"
#include "torvane_test/loopback_peer.h"
#include "torvane_test/sim_process.h"

namespace torvane_test {

struct LockstepCycle {
  int sent = 0;         // what Send returned
  std::string kind;     // the emulator's account ("ok", "drop", ...; empty: it said nothing)
  bool arrived = true;  // the answer was queued in time (always true for a drop)
  int result = 0;       // what Recv returned
  int expected = 0;     // what Recv returns for `kind`
  uint64_t digest = 0;  // FNV-1a 64 of the datagram the emulator built
};

template <typename Cmd>
LockstepCycle Lockstep(TORVANE::UDP& udp, SimProcess& sim, Cmd& cmd) {
  LockstepCycle c;
  udp.SetSend(cmd);
  c.sent = udp.Send();
  c.kind = sim.Answer(&c.digest);
  if (c.kind.empty()) return c;
  // Whatever was sent is queued by now; wait for it all the same where something was sent.
  if (c.kind != "drop") c.arrived = WaitReadable(udp.socketfd);
  c.result = udp.Recv();
  c.expected = SimProcess::ExpectedResult(c.kind);
  return c;
}

}  // namespace torvane_test
