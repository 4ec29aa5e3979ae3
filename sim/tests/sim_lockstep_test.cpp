// The endpoint's counters against torvane-sim with every kind of fault injected, in lockstep:
// each counter matches what the emulator reports it injected.
#include <gtest/gtest.h>

#include <map>

#include "sim_command.h"
#include "torvane/udp.h"
#include "torvane_test/lockstep.h"
#include "torvane_test/loopback_peer.h"
#include "torvane_test/sim_process.h"
#include "torvane_testing/transport_reset.h"

using namespace TORVANE;
using namespace torvane_test;

namespace {

const std::vector<std::string> kAllFaults = {"--seed",        "11",  "--drop",           "0.1",
                                             "--corrupt-crc", "0.1", "--corrupt-header", "0.1",
                                             "--truncate",    "0.1", "--duplicate",      "0.1"};

template <typename Cmd>
std::map<std::string, int> RunCycles(UDP& udp, SimProcess& sim, Cmd& cmd, int cycles) {
  std::map<std::string, int> kinds;
  for (int i = 0; i < cycles; ++i) {
    const LockstepCycle c = Lockstep(udp, sim, cmd);
    EXPECT_FALSE(c.kind.empty()) << "cycle " << i;
    if (c.kind.empty()) break;
    ++kinds[c.kind];
    EXPECT_TRUE(c.arrived) << "cycle " << i;
    EXPECT_EQ(c.result, c.expected) << "cycle " << i << ": " << c.kind;
  }
  return kinds;
}

void ExpectCountersMatch(const UDP& udp, std::map<std::string, int>& kinds,
                         const std::string& tally) {
  EXPECT_EQ(udp.udpState.RecvCount, static_cast<uint64_t>(kinds["ok"] + kinds["duplicate"]));
  EXPECT_EQ(udp.udpState.RecvCRCError, static_cast<uint64_t>(kinds["crc"] + kinds["truncate"]));
  EXPECT_EQ(udp.udpState.RecvLoseError, static_cast<uint64_t>(kinds["drop"]));
  for (const char* kind : {"drop", "crc", "header", "truncate", "duplicate"}) {
    EXPECT_NE(tally.find(std::string(kind) + " " + std::to_string(kinds[kind])), std::string::npos)
        << kind << " in " << tally;
    EXPECT_GT(kinds[kind], 20) << kind;
  }
}

}  // namespace

TEST(SimLockstep, LowLevelCountersMatchInjectedFaults) {
  detail::ResetTransportState();
  SimProcess sim(SimCommand(), "low", kAllFaults);
  ASSERT_TRUE(sim.running());
  UDP udp(LOW_LEVEL_FLAG, 0, "127.0.0.1", sim.port());
  LowCmd cmd{};
  udp.InitCmdData(cmd);
  auto kinds = RunCycles(udp, sim, cmd, 1000);
  ExpectCountersMatch(udp, kinds, sim.Stop());
}

TEST(SimLockstep, HighLevelCountersMatchInjectedFaults) {
  detail::ResetTransportState();
  std::vector<std::string> args = kAllFaults;
  args.insert(args.end(), {"--engine", "simple"});  // the body moves from the first command
  SimProcess sim(SimCommand(), "high", args);
  ASSERT_TRUE(sim.running());
  UDP udp(HIGH_LEVEL_FLAG, 0, "127.0.0.1", sim.port());
  HighCmd cmd{};
  udp.InitCmdData(cmd);
  cmd.mode = 2;
  cmd.velocity = {0.3f, 0.0f};
  auto kinds = RunCycles(udp, sim, cmd, 1000);
  ExpectCountersMatch(udp, kinds, sim.Stop());
  HighState state{};
  udp.GetRecv(state);
  EXPECT_GT(state.position[0], 0.1f);  // it walked, faults or not
}

TEST(SimLockstep, BadCommandsAreRejectedAndAnsweredWithNothing) {
  detail::ResetTransportState();
  SimProcess sim(SimCommand(), "low", {});
  ASSERT_TRUE(sim.running());
  UDP udp(0, "127.0.0.1", sim.port(), 614, 807, false, nonBlock);
  char garbage[614] = {};  // no header: the emulator's receive check refuses it
  udp.SetSend(garbage);
  udp.Send();
  EXPECT_EQ(sim.Answer(), "reject");
  EXPECT_EQ(udp.Recv(), -1);
  EXPECT_NE(sim.Stop().find("1 rejected"), std::string::npos);
}
