// 200,000 lockstep cycles against torvane-sim with every kind of fault injected: no call
// crashes or blocks, the counters account for every fault exactly, and every valid state
// arrives byte for byte as the emulator built it.
#include <gtest/gtest.h>

#include <map>

#include "sim_command.h"
#include "torvane/packing.h"
#include "torvane/udp.h"
#include "torvane_test/datagrams.h"
#include "torvane_test/lockstep.h"
#include "torvane_test/sim_process.h"
#include "torvane_testing/transport_reset.h"

using namespace TORVANE;
using namespace torvane_test;

TEST(SimSoak, TwoHundredThousandCyclesWithEveryFault) {
  constexpr int kCycles = 200000;
  detail::ResetTransportState();
  SimProcess sim(SimCommand(), "low",
                 {"--seed", "2024", "--drop", "0.02", "--corrupt-crc", "0.02", "--corrupt-header",
                  "0.02", "--truncate", "0.02", "--duplicate", "0.02",
                  // The wire is under test, not the motion: the plain joint model costs least.
                  "--engine", "simple"});
  ASSERT_TRUE(sim.running());
  UDP udp(LOW_LEVEL_FLAG, 0, "127.0.0.1", sim.port());
  LowCmd cmd{};
  udp.InitCmdData(cmd);
  LowState state{};
  std::vector<uint8_t> raw(807);

  std::map<std::string, uint64_t> kinds;
  int mismatches = 0;
  uint32_t last_tick = 0;
  for (int i = 0; i < kCycles && mismatches < 10; ++i) {
    cmd.motorCmd[0].q = static_cast<float>(i % 100) * 0.001f;
    const LockstepCycle c = Lockstep(udp, sim, cmd);
    ASSERT_EQ(c.sent, 614);
    const std::string& kind = c.kind;
    const uint64_t digest = c.digest;
    ASSERT_FALSE(kind.empty()) << "the emulator stopped answering at cycle " << i;
    ++kinds[kind];
    ASSERT_TRUE(c.arrived) << "cycle " << i;
    const int result = c.result;
    if (result != c.expected) {
      ADD_FAILURE() << "cycle " << i << ": " << kind << " gave " << result;
      ++mismatches;
      continue;
    }
    if (result != 0) continue;
    udp.GetRecv(reinterpret_cast<char*>(raw.data()));
    if (Digest(raw.data(), raw.size()) != digest) {
      ADD_FAILURE() << "cycle " << i << ": the state is not the one the emulator sent";
      ++mismatches;
    }
    udp.GetRecv(state);
    if (state.tick <= last_tick && i > 0) {
      ADD_FAILURE() << "cycle " << i << ": tick did not advance";
      ++mismatches;
    }
    last_tick = state.tick;
  }
  const std::string tally = sim.Stop();
  EXPECT_EQ(udp.udpState.RecvCount, kinds["ok"] + kinds["duplicate"]);
  EXPECT_EQ(udp.udpState.RecvCRCError, kinds["crc"] + kinds["truncate"]);
  EXPECT_EQ(udp.udpState.RecvLoseError, kinds["drop"]);
  EXPECT_EQ(udp.udpState.SendCount, static_cast<uint64_t>(kCycles));
  for (const char* kind : {"drop", "crc", "header", "truncate", "duplicate"}) {
    EXPECT_NE(tally.find(std::string(kind) + " " + std::to_string(kinds[kind])), std::string::npos)
        << kind << " in " << tally;
  }
  EXPECT_NE(tally.find(std::to_string(kCycles) + " answers"), std::string::npos) << tally;
}
