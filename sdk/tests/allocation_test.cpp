// The per-cycle path allocates nothing: whole control cycles at both levels, every receive
// outcome included, with every heap allocation of the process counted.
#include <gtest/gtest.h>

#include "torvane/torvane.h"
#include "torvane_test/alloc_counter.h"
#include "udp_test_util.h"

using namespace TORVANE;
using namespace torvane_test;

TEST(Allocations, NoneOnTheCyclePath) {
  const uint64_t start = torvane_test::Allocations();
  { std::vector<int> probe(100); }
  ASSERT_GT(torvane_test::Allocations(), start) << "the counter does not see allocations";
  detail::ResetTransportState();
  Peer peer;
  UDP low(LOW_LEVEL_FLAG, 0, "127.0.0.1", peer.port());
  UDP high(HIGH_LEVEL_FLAG, 0, "127.0.0.1", peer.port());
  UDP server(0, 129, 1087, true, nonBlock, false);
  Safety safety(LeggedType::Zorvan);
  LowCmd cmd{};
  LowState state{};
  HighCmd hcmd{};
  HighState hstate{};
  low.InitCmdData(cmd);
  high.InitCmdData(hcmd);
  server.SetDisconnectTime(1.0f, 3.0f);
  const auto low_state = LowStateDatagram(1);
  const auto high_state = HighStateDatagram(2);
  auto bad = HighStateDatagram(3);
  bad[100] ^= 1;
  // The datagrams (vectors) exist before counting starts; sends and receives allocate nothing.
  const uint64_t before = torvane_test::Allocations();
  for (int i = 0; i < 200; ++i) {
    peer.SendTo(BoundPort(low.socketfd), low_state);
    safety.PositionLimit(cmd);
    safety.PowerProtect(cmd, state, 10);
    safety.PositionProtect(cmd, state, 0.0);  // trips (all zero): prints, allocates nothing
    low.SetSend(cmd);
    low.Send();
    low.Recv();
    low.GetRecv(state);
    peer.SendTo(BoundPort(high.socketfd), i % 2 ? high_state : bad);
    high.SetSend(hcmd);
    high.Send();
    high.Recv();
    high.GetRecv(hstate);
    high.Recv();  // nothing queued
    // A server learning, losing and relearning its client (the address text included).
    peer.SendTo(BoundPort(server.socketfd), high_state);
    server.Recv();
    server.Recv();
    server.Recv();
  }
  EXPECT_EQ(torvane_test::Allocations() - before, 0u);
}
