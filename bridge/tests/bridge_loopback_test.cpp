// torvane-bridge between the emulator and a ROS 2-style DDS client, all on 127.0.0.1: states
// come out on the namespaced topics, commands drive the robot, and a command that stops coming
// is replaced by the safe one.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <csignal>

#include "child_process/child_process.h"
#include "dds_test_util.h"
#include "ros_client.h"
#include "torvane_test/loopback_peer.h"
#include "torvane_test/sim_process.h"

using namespace torvane_bridge_test;
using torvane_child::ChildOptions;
using torvane_child::ChildProcess;

namespace {

using Clock = std::chrono::steady_clock;

std::string DdsEnv() {
  return std::string("CYCLONEDDS_URI=<CycloneDDS><Domain id=\"any\">") + LoopbackConfig() +
         "</Domain></CycloneDDS>";
}

class BridgeLoopback : public ::testing::Test {
 protected:
  void SetUp() override {
    domain_ = dds_create_domain(TestDomain(), LoopbackConfig());
    ASSERT_GT(domain_, 0);
    participant_ = dds_create_participant(TestDomain(), nullptr, nullptr);
    ASSERT_GT(participant_, 0);
    ns_ = "loop" + std::to_string(getpid());
  }
  void TearDown() override { dds_delete(domain_); }

  void Start(const char* level, std::vector<std::string> bridge_extra) {
    const std::string dir = ::testing::TempDir();
    sim_ = std::make_unique<ChildProcess>(
        // The plain models answer at once and move as commanded; what is under test here is
        // the bridge's plumbing, not the physics. It takes a free port and says which.
        std::vector<std::string>{TORVANE_SIM_PATH, "--level", level, "--engine", "simple", "--port",
                                 "0", "--duration", "60"});
    ASSERT_TRUE(sim_->running());
    std::string listening;
    ASSERT_TRUE(sim_->ReadUntil("level on", listening, 30000));
    const uint16_t robot_port = torvane_test::ListeningPort(listening);
    ASSERT_NE(robot_port, 0);
    std::vector<std::string> args = {TORVANE_BRIDGE_PATH, "--level", level, "--robot-port",
                                     std::to_string(robot_port),
                                     // The bridge insists on a fixed local port.
                                     "--local-port", std::to_string(torvane_test::UnusedPort()),
                                     "--namespace", ns_, "--duration", "60"};
    args.insert(args.end(), bridge_extra.begin(), bridge_extra.end());
    ChildOptions options;
    options.extra_env = {DdsEnv(), "ROS_DOMAIN_ID=" + std::to_string(TestDomain())};
    options.output_path = dir + "/" + ns_ + "_bridge.log";
    options.merge_stderr = true;
    bridge_ = std::make_unique<ChildProcess>(args, options);
    ASSERT_TRUE(bridge_->running());
  }

  // Stops the bridge with `signal` (SIGKILL 10 s later) and returns its exit status, -1 if it
  // was killed.
  int StopBridge(int signal = SIGINT) {
    const torvane_child::Ending e = bridge_->Stop(signal, 10000);
    return e.killed || !e.ended ? -1 : e.exit_code;
  }

  dds_entity_t domain_ = 0, participant_ = 0;
  std::string ns_;
  std::unique_ptr<ChildProcess> sim_, bridge_;
};

// Keeps calling `step` until it returns true or `seconds` have passed.
template <typename F>
bool Within(double seconds, F&& step) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    if (step()) return true;
  }
  return false;
}

}  // namespace

TEST_F(BridgeLoopback, HighLevelWalksOnCmdVelAndStopsWhenItStops) {
  Start("high", {});
  RosClient client(participant_, ns_);
  ASSERT_TRUE(client.ok());
  std::array<double, 12> q{};
  ASSERT_TRUE(Within(15, [&] { return client.ReadJoints(q, 200); })) << bridge_->OutputFile();
  EXPECT_NEAR(q[1], 0.67, 0.05);  // the emulator's standing thigh angle, by name order
  double x0 = 0, y = 0, vx = 0;
  ASSERT_TRUE(Within(5, [&] { return client.ReadOdom(x0, y, vx, 200); }));

  ASSERT_TRUE(client.WaitCommandReader(true, 10000));
  // Walk forward at 0.5 m/s for a second, commanding at 50 Hz.
  double x = x0;
  const auto walk_end = Clock::now() + std::chrono::seconds(1);
  while (Clock::now() < walk_end) {
    client.SendTwist(0.5, 0.0, 0.0);
    client.ReadOdom(x, y, vx, 20);
  }
  EXPECT_GT(x - x0, 0.2) << bridge_->OutputFile();
  // No more commands: after the deadline the bridge sends zero velocity and the body stops.
  EXPECT_TRUE(Within(5, [&] { return client.ReadOdom(x, y, vx, 100) && std::fabs(vx) < 0.02; }))
      << "still moving at " << vx;
  EXPECT_EQ(StopBridge(), 0);
  const std::string out = bridge_->OutputFile();
  EXPECT_NE(out.find("commands "), std::string::npos) << out;
  EXPECT_EQ(out.find("commands 0 "), std::string::npos) << out;
}

TEST_F(BridgeLoopback, LowLevelStandsOnJointCommandsAndGoesLimpWhenTheyStop) {
  Start("low", {"--stiffness", "40", "--damping", "1"});
  RosClient client(participant_, ns_);
  ASSERT_TRUE(client.ok());
  std::array<double, 12> q{};
  ASSERT_TRUE(Within(15, [&] { return client.ReadJoints(q, 200); })) << bridge_->OutputFile();
  const std::array<double, 12> stand = {0, 0.67, -1.3, 0, 0.67, -1.3, 0, 0.67, -1.3, 0, 0.67, -1.3};
  const auto close_to_stand = [&] {
    for (int s = 0; s < 12; ++s) {
      if (std::fabs(q[s] - stand[s]) > 0.1) return false;
    }
    return true;
  };
  ASSERT_TRUE(client.WaitCommandReader(false, 10000));
  EXPECT_TRUE(Within(10,
                     [&] {
                       client.SendBadJointCommand();  // refused; the good one after it counts
                       client.SendJointPositions(stand);
                       return client.ReadJoints(q, 20) && close_to_stand();
                     }))
      << "calf at " << q[2];
  // No more commands: damping without stiffness, and the body's weight folds the legs.
  EXPECT_TRUE(Within(5, [&] { return client.ReadJoints(q, 100) && q[2] < -1.5; }))
      << "calf still at " << q[2];
  EXPECT_EQ(StopBridge(), 0);
  const std::string out = bridge_->OutputFile();
  EXPECT_NE(out.find("command refused (1 so far): joint_commands with a value that is not a "
                     "number"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("Position Protection"), std::string::npos) << out;
}

// SIGTERM (what a service manager or a test's cleanup sends) ends it like SIGINT: at once, with
// its tally, exit status 0, while it streams states to a subscriber.
TEST_F(BridgeLoopback, EndsOnSigtermWithItsTally) {
  Start("high", {});
  RosClient client(participant_, ns_);
  ASSERT_TRUE(client.ok());
  std::array<double, 12> q{};
  ASSERT_TRUE(Within(15, [&] { return client.ReadJoints(q, 200); })) << bridge_->OutputFile();
  EXPECT_EQ(StopBridge(SIGTERM), 0) << bridge_->OutputFile();
  const std::string out = bridge_->OutputFile();
  EXPECT_NE(out.find("torvane-bridge: cycles "), std::string::npos) << out;
  EXPECT_NE(out.find("torvane-bridge: states "), std::string::npos) << out;
  const torvane_child::Ending sim = sim_->Stop(SIGTERM, 10000);
  EXPECT_FALSE(sim.killed);
  EXPECT_EQ(sim.exit_code, 0);
}

// The robot gone mid-run: after a second without a state the bridge writes the last seconds as
// CSV into --record-dir and names the file in one line; the cycle runs on.
TEST_F(BridgeLoopback, LostRobotLinkLeavesANamedFlightRecord) {
  std::string dir = ::testing::TempDir() + "bridge-records-XXXXXX";
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  Start("high", {"--record-dir", dir});
  RosClient client(participant_, ns_);
  ASSERT_TRUE(client.ok());
  std::array<double, 12> q{};
  ASSERT_TRUE(Within(15, [&] { return client.ReadJoints(q, 200); })) << bridge_->OutputFile();
  sim_->Stop(SIGTERM, 10000);

  const std::string said =
      "torvane-bridge: lost the robot link: no valid state for 1 s; flight "
      "record in ";
  std::string out;
  ASSERT_TRUE(Within(10, [&] {
    client.ReadJoints(q, 20);  // paces the polling
    out = bridge_->OutputFile();
    return out.find(said) != std::string::npos && out.find(".csv\n", out.find(said)) != out.npos;
  })) << out;
  const size_t at = out.find(said) + said.size();
  const std::string path = out.substr(at, out.find('\n', at) - at);
  EXPECT_EQ(path.rfind(dir + "/flight-high-", 0), 0u) << path;

  std::ifstream file(path);
  ASSERT_TRUE(file.good()) << path;
  std::string header;
  std::getline(file, header);
  EXPECT_EQ(header.rfind("time_s,recv_result,cmd.mode,", 0), 0u) << header;
  std::vector<std::string> results;
  for (std::string row; std::getline(file, row);) {
    std::istringstream fields(row);
    std::string time, result;
    std::getline(fields, time, ',');
    std::getline(fields, result, ',');
    results.push_back(result);
  }
  // The second of silence that lost the link closes the record, the states before it precede it.
  ASSERT_GE(results.size(), 500u);
  for (size_t i = results.size() - 500; i < results.size(); ++i) EXPECT_EQ(results[i], "-1") << i;
  EXPECT_NE(std::find(results.begin(), results.end(), "0"), results.end());

  EXPECT_EQ(StopBridge(), 0);  // the bridge kept running after the loss
  std::remove(path.c_str());
  rmdir(dir.c_str());
}
