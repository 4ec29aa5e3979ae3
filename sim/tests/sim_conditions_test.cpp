// The conditions against torvane-sim itself, in lockstep: the same seed gives the same datagrams
// twice and another seed others, a state latency of N periods shifts the stream the client sees
// by N cycles, the scenario file sets them all and the account at exit names them, and every bad
// value is refused in one line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sim_command.h"
#include "torvane/udp.h"
#include "torvane_test/loopback_peer.h"
#include "torvane_test/sim_process.h"
#include "torvane_testing/transport_reset.h"

using namespace TORVANE;
using namespace torvane_test;

namespace {

const std::string kScenario = std::string(TORVANE_SOURCE_DIR) + "/sim/scenarios/real_robot.json";

// `cycles` states of the high level walking, each with its serial number and checksum zeroed
// (they number the datagrams, not the robot's state); the emulator's tally at the end.
std::vector<std::vector<uint8_t>> Walk(const std::vector<std::string>& extra, int cycles,
                                       std::string* tally = nullptr) {
  detail::ResetTransportState();
  SimProcess sim(SimCommand(), "high", extra);
  EXPECT_TRUE(sim.running());
  UDP udp(HIGH_LEVEL_FLAG, 0, "127.0.0.1", sim.port());
  HighCmd cmd{};
  udp.InitCmdData(cmd);
  cmd.mode = 2;
  cmd.velocity = {0.3f, 0.0f};
  std::vector<std::vector<uint8_t>> states;
  for (int k = 0; k < cycles; ++k) {
    udp.SetSend(cmd);
    udp.Send();
    if (sim.Answer() != "ok" || !WaitReadable(udp.socketfd) || udp.Recv() != 0) {
      ADD_FAILURE() << "no state at cycle " << k;
      break;
    }
    HighState state{};
    udp.GetRecv(state);
    state.SN = {0, 0};
    state.crc = 0;
    const auto* p = reinterpret_cast<const uint8_t*>(&state);
    states.emplace_back(p, p + sizeof state);
  }
  const std::string said = sim.Stop();
  if (tally != nullptr) *tally = said;
  return states;
}

TEST(SimConditions, SameSeedGivesTheSameBytesTwiceAndAnotherSeedOthers) {
  const std::vector<std::string> args = {"--scenario", kScenario, "--push-every", "0.2:0.3"};
  auto with_seed = [&](const char* seed) {
    std::vector<std::string> a = args;
    a.insert(a.end(), {"--seed", seed});
    return Walk(a, 400);
  };
  const auto first = with_seed("5");
  ASSERT_EQ(first.size(), 400u);
  EXPECT_EQ(first, with_seed("5"));
  EXPECT_NE(first, with_seed("6"));
}

TEST(SimConditions, StateLatencyOfNPeriodsShiftsTheStreamTheClientSeesByNCycles) {
  // 500 Hz: 10 ms are 5 periods.
  const auto plain = Walk({}, 300);
  const auto late = Walk({"--latency-ms", "10"}, 300);
  ASSERT_EQ(plain.size(), 300u);
  ASSERT_EQ(late.size(), 300u);
  for (int k = 5; k < 300; ++k) ASSERT_EQ(late[k], plain[k - 5]) << "cycle " << k;
  EXPECT_NE(late[10], plain[10]);
}

TEST(SimConditions, TheScenarioSetsEveryConditionAndTheAccountNamesThem) {
  std::string tally;
  Walk({"--scenario", kScenario, "--trunk-mass", "7"}, 10, &tally);
  const size_t at = tally.find("torvane-sim: conditions: ");
  ASSERT_NE(at, std::string::npos) << tally;
  const std::string line = tally.substr(at, tally.find('\n', at) - at);
  for (const char* part :
       {"state latency 10+-1 ms", "command latency 4+-0 ms", "noise q=0.002:0.0005", "dq=0.05:0",
        "motors all: kp*0.8 kd*0.8 armature 0.012 friction 0.3 speed 30",
        "trunk mass 7 kg",  // the later option overrides the file
        "trunk com +0.015:0:0.005 m", "ground friction 0.7", "push at 5 s by 0:0.5:0 m/s",
        "push at 8 s by 0.3:0:0 m/s", "rough ground 0.02 m"}) {
    EXPECT_NE(line.find(part), std::string::npos) << part << " in " << line;
  }
  // Without conditions the account is as it was.
  Walk({}, 3, &tally);
  EXPECT_EQ(tally.find("conditions"), std::string::npos) << tally;
}

// What the emulator prints given `args`, and its exit status.
std::string Refusal(const std::string& args, int& status) {
  const std::string command = std::string(TORVANE_SIM_PATH) + " --level high " + args + " 2>&1";
  FILE* p = popen(command.c_str(), "r");
  std::string out;
  char buf[512];
  while (p != nullptr && fgets(buf, sizeof buf, p) != nullptr) out += buf;
  status = p != nullptr ? pclose(p) : -1;
  return out;
}

TEST(SimConditions, EveryBadValueIsRefusedInOneLine) {
  const std::string bad_json = testing::TempDir() + "/torvane_bad_scenario.json";
  const std::string bad_key = testing::TempDir() + "/torvane_bad_key.json";
  const std::string bad_value = testing::TempDir() + "/torvane_bad_value.json";
  std::FILE* f = std::fopen(bad_json.c_str(), "w");
  std::fputs("{\"latency-ms\": ", f);
  std::fclose(f);
  f = std::fopen(bad_key.c_str(), "w");
  std::fputs("{\"latency\": 5}", f);
  std::fclose(f);
  f = std::fopen(bad_value.c_str(), "w");
  std::fputs("{\"terrain\": \"hills\"}", f);
  std::fclose(f);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"--latency-ms -1", "--latency-ms must be"},
      {"--latency-ms 5:", "--latency-ms must be"},
      {"--latency-ms 2000", "--latency-ms must be"},
      {"--command-latency-ms x", "--command-latency-ms must be"},
      {"--noise q", "--noise must be"},
      {"--noise gps=1", "--noise must be"},
      {"--noise q=0.1:1:2", "--noise must be"},
      {"--noise q=-0.1", "--noise must be"},
      {"--motor kp=0", "--motor must be"},
      {"--motor 12/kp=0.8", "--motor must be"},
      {"--motor gear=2", "--motor must be"},
      {"--motor friction=-1", "--motor must be"},
      {"--trunk-mass 0", "--trunk-mass must be"},
      {"--trunk-com 0:0", "--trunk-com must be"},
      {"--trunk-com 0.5:0:0", "--trunk-com must be"},
      {"--ground-friction -0.5", "--ground-friction must be"},
      {"--push 5:0", "--push must be"},
      {"--push -1:0:1", "--push must be"},
      {"--push 1:0:50", "--push must be"},
      {"--push-every 0:1", "--push-every must be"},
      {"--push-every 2", "--push-every must be"},
      {"--terrain hills", "--terrain must be"},
      {"--terrain slope:45", "--terrain must be"},
      {"--terrain steps:0.1", "--terrain must be"},
      {"--terrain rough:1", "--terrain must be"},
      {"--scenario /nonexistent/scenario.json", "cannot read --scenario"},
      {"--scenario " + bad_json, "is no JSON object"},
      {"--scenario " + bad_key, "has an unknown condition: latency"},
      {"--scenario " + bad_value, "--terrain must be"},
      {"--engine simple --terrain slope:5", "the simple engine has no physics for: --terrain"},
      {"--engine simple --motor kp=0.8", "the simple engine has no physics for: --motor"},
      {"--replay some.pcap --latency-ms 5", "it takes no: conditions"},
  };
  for (const auto& [args, words] : cases) {
    int status = 0;
    const std::string out = Refusal(args, status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << args;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << args << ": " << out;
    EXPECT_NE(out.find(words), std::string::npos) << args << ": " << out;
  }
  for (const std::string& path : {bad_json, bad_key, bad_value}) std::remove(path.c_str());
}

}  // namespace
