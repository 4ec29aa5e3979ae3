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
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <csignal>

#include "child_process/child_process.h"
#include "dds_test_util.h"
#include "ros_client.h"
#include "torvane/packing.h"
#include "torvane_test/loopback_peer.h"
#include "torvane_test/sim_process.h"
#ifdef TORVANE_BRIDGE_TEST_PCAP
#include "pcap/udp_pcap.h"
#endif

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

  void Start(const char* level, std::vector<std::string> bridge_extra,
             std::vector<std::string> sim_extra = {}) {
    const std::string dir = ::testing::TempDir();
    // The plain models answer at once and move as commanded; what is under test here is the
    // bridge's plumbing, not the physics. It takes a free port and says which.
    std::vector<std::string> sim_args = {
        TORVANE_SIM_PATH, "--level", level,        "--engine", "simple",
        "--port",         "0",       "--duration", "60"};
    sim_args.insert(sim_args.end(), sim_extra.begin(), sim_extra.end());
    sim_ = std::make_unique<ChildProcess>(sim_args);
    ASSERT_TRUE(sim_->running());
    std::string listening;
    ASSERT_TRUE(sim_->ReadUntil("level on", listening, 30000));
    const uint16_t robot_port = torvane_test::ListeningPort(listening);
    ASSERT_NE(robot_port, 0);
    robot_port_ = robot_port;
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
  uint16_t robot_port_ = 0;
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

// A hostile sender's joint_commands, each beside a command that asks a little too much: 1e6 on
// every joint as effort, as velocity and as position are refused whole; the other is taken with
// its effort, velocity and position clamped. Every command the emulator received (its capture)
// stays within the motors' torque limits, the joint speed and the ranges narrowed by the margin,
// and the guard never trips.
TEST_F(BridgeLoopback, HostileJointCommandsReachTheMotorsOnlyWithinTheirLimits) {
#ifndef TORVANE_BRIDGE_TEST_PCAP
  GTEST_SKIP() << "torvane-sim has no --pcap here (built without libpcap)";
#else
  const std::string capture = ::testing::TempDir() + "/" + ns_ + "_bounds.pcap";
  struct Remove {
    const std::string& path;
    ~Remove() { std::remove(path.c_str()); }
  } remove_capture{capture};
  // Overdamped gains: a joint walks to a clamped target without overshooting it.
  Start("low", {"--stiffness", "20", "--damping", "2", "--max-joint-speed", "2"},
        {"--pcap", capture});
  RosClient client(participant_, ns_);
  ASSERT_TRUE(client.ok());
  std::array<double, 12> q{};
  ASSERT_TRUE(Within(15, [&] { return client.ReadJoints(q, 200); })) << bridge_->OutputFile();
  ASSERT_TRUE(client.WaitCommandReader(false, 10000));

  std::vector<double> stand = {0, 0.67, -1.3, 0, 0.67, -1.3, 0, 0.67, -1.3, 0, 0.67, -1.3};
  std::vector<double> over_q = stand, over_dq(12, 0.0), over_tau(12, 0.0);
  over_q[2] = 0.0;     // FR calf above its range (-0.611): to -0.611 - 0.087
  over_dq[3] = 50.0;   // FL hip faster than --max-joint-speed: to 2 rad/s
  over_tau[1] = 60.0;  // FR thigh beyond its motor's 23.7 N m
  const std::vector<double> million(12, 1e6);
  const auto end = Clock::now() + std::chrono::seconds(3);
  while (Clock::now() < end) {
    client.SendJointCommand({}, {}, million);
    client.SendJointCommand({}, million, {});
    client.SendJointCommand(million, {}, {});
    client.SendJointCommand(over_q, over_dq, over_tau);
    client.ReadJoints(q, 20);
  }
  EXPECT_EQ(StopBridge(), 0);
  const torvane_child::Ending sim_end = sim_->Stop(SIGINT, 10000);
  EXPECT_EQ(sim_end.exit_code, 0);
  const std::string out = bridge_->OutputFile();

  // The tally: the hostile samples refused by field, every other one taken clamped.
  const std::regex tally(
      R"(joint_commands: (\d+) taken, (\d+) refused \(NaN 0, malformed 0, effort (\d+), )"
      R"(velocity (\d+), position (\d+)\), clamped: effort (\d+), velocity (\d+), position (\d+))");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(out, m, tally)) << out;
  const auto n = [&](int i) { return std::stoull(m[i].str()); };
  EXPECT_GT(n(1), 10u) << out;
  EXPECT_GT(n(3), 10u) << out;
  EXPECT_GT(n(4), 10u) << out;
  EXPECT_GT(n(5), 10u) << out;
  EXPECT_EQ(n(2), n(3) + n(4) + n(5)) << out;
  for (int i = 6; i <= 8; ++i) EXPECT_EQ(n(i), n(1)) << out;
  EXPECT_NE(out.find("guard trips 0\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Protection"), std::string::npos) << out;

  // What the emulator received. Zorvan's ranges narrowed by the margin bound every position
  // target that is held (Kp > 0).
  std::vector<torvane_pcap::Datagram> datagrams;
  std::string error;
  std::string cut;
  ASSERT_TRUE(torvane_pcap::Read(capture, datagrams, error, cut)) << error;
  EXPECT_EQ(cut, "");
  const double lower[3] = {-0.873 + 0.087, -0.524 + 0.087, -2.775 + 0.087};
  const double upper[3] = {1.047 - 0.087, 3.927 - 0.087, -0.611 - 0.087};
  const double torque_limit[3] = {23.7, 23.7, 35.5};
  int commands = 0, at_torque_limit = 0, at_speed = 0, at_calf_bound = 0, beyond = 0;
  std::string first_beyond;
  int16_t largest_tau = 0;
  for (const torvane_pcap::Datagram& d : datagrams) {
    if (d.to.port != robot_port_ || d.payload.size() != sizeof(TORVANE::LowCmd_refine)) continue;
    TORVANE::LowCmd_refine cmd;
    std::memcpy(&cmd, d.payload.data(), sizeof cmd);
    ++commands;
    for (int s = 0; s < 12; ++s) {
      const TORVANE::MotorCmd_refine motor = cmd.motorCmd[s];
      const int joint = s % 3;
      const bool right_hip = joint == 0 && (s == 0 || s == 6);
      const double lo = right_hip ? -upper[0] : lower[joint];
      const double hi = right_hip ? -lower[0] : upper[joint];
      if (std::abs(motor.tau) / 256.0 > torque_limit[joint] || std::fabs(motor.dq) > 2.0f ||
          (motor.Kp != 0 && (motor.q < lo || motor.q > hi))) {
        if (beyond++ == 0) {
          first_beyond = "slot " + std::to_string(s) + ": tau " +
                         std::to_string(motor.tau / 256.0) + ", dq " + std::to_string(motor.dq) +
                         ", q " + std::to_string(motor.q);
        }
      }
      largest_tau = std::max<int16_t>(largest_tau, static_cast<int16_t>(std::abs(motor.tau)));
    }
    at_torque_limit += cmd.motorCmd[1].tau == static_cast<int16_t>(23.7f * 256);
    at_speed += cmd.motorCmd[3].dq == 2.0f;
    at_calf_bound += cmd.motorCmd[2].Kp != 0 && std::fabs(cmd.motorCmd[2].q - upper[2]) < 1e-6;
  }
  EXPECT_GT(commands, 100);
  EXPECT_EQ(beyond, 0) << "first: " << first_beyond;
  // The clamped command did arrive, at its limits.
  EXPECT_GT(at_torque_limit, 20);
  EXPECT_GT(at_speed, 20);
  EXPECT_GT(at_calf_bound, 20);
  EXPECT_EQ(largest_tau, static_cast<int16_t>(23.7f * 256));
#endif
}
