// The low level in physics, through the wire in lockstep: the stand-up of the examples lifts the
// trunk to its standing height and holds it, a safety trip drops it, the feet carry the robot's
// weight, the guard trips on real power and real joint excursions, and two runs with the same
// seed and commands answer with the same datagrams bit for bit. The trunk's height comes from
// the emulator's --log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "child_process/child_process.h"
#include "sim_command.h"
#include "torvane/safety.h"
#include "torvane/udp.h"
#include "torvane_test/datagrams.h"
#include "torvane_test/loopback_peer.h"
#include "torvane_test/sim_process.h"
#include "torvane_testing/transport_reset.h"

using namespace TORVANE;
using namespace torvane_test;

namespace {

constexpr double kStandingHeight = 0.27;  // [m] the model's trunk height in the stand pose
constexpr double kWeight = 12.0 * 9.81;   // [N]
constexpr double kRate = 500;
constexpr std::array<float, 3> kStand = {0.0f, 0.67f, -1.3f};  // hip, thigh, calf [rad]

std::string LogPath(const char* name) {
  return (testing::TempDir() + "/torvane_physics_" + name + "_" + std::to_string(getpid()) +
          ".csv");
}

// The emulator in lockstep and one low-level client of it.
class Robot {
 public:
  explicit Robot(const std::string& log, std::vector<std::string> extra = {})
      : sim_(SimCommand(), "low", WithLog(log, std::move(extra))),
        udp_(LOW_LEVEL_FLAG, 0, "127.0.0.1", sim_.port()) {
    udp_.InitCmdData(cmd);
  }

  bool running() const { return sim_.running(); }

  // One command out, its answer in; false if the emulator did not answer.
  bool Cycle() {
    udp_.SetSend(cmd);
    udp_.Send();
    uint64_t digest = 0;
    const std::string kind = sim_.Answer(&digest);
    if (kind.empty()) return false;
    digests.push_back(digest);
    if (kind == "ok" || kind == "duplicate") {
      if (!WaitReadable(udp_.socketfd) || udp_.Recv() != 0) return false;
      udp_.GetRecv(state);
    } else {
      udp_.Recv();
    }
    return true;
  }

  // The stand-up of the examples: from where the legs lie to the stand pose in 2 s (Kp 80,
  // Kd 2), the guard on every cycle. Returns the cycle of the first trip, or -1.
  int StandUp(Safety& safety, int cycles, int power_factor = 10) {
    if (!Cycle()) return -2;
    std::array<float, 12> start{};
    for (int j = 0; j < 12; ++j) start[j] = state.motorState[j].q;
    int first_trip = -1;
    for (int i = 0; i < cycles; ++i) {
      const float a = static_cast<float>(std::min(1.0, i / kRate / 2.0));
      for (int j = 0; j < 12 && first_trip < 0; ++j) {
        MotorCmd& m = cmd.motorCmd[j];
        m.q = (1 - a) * start[j] + a * kStand[j % 3];
        m.dq = 0;
        m.Kp = 80;
        m.Kd = 2;
        m.tau = 0;
      }
      safety.PositionLimit(cmd);
      if ((safety.PowerProtect(cmd, state, power_factor) < 0 ||
           safety.PositionProtect(cmd, state, 0.087) < 0) &&
          first_trip < 0) {
        first_trip = i;
      }
      if (!Cycle()) return -2;
    }
    return first_trip;
  }

  std::string Stop() { return sim_.Stop(); }

  LowCmd cmd{};
  LowState state{};
  std::vector<uint64_t> digests;

 private:
  static std::vector<std::string> WithLog(const std::string& log, std::vector<std::string> extra) {
    if (!log.empty()) {
      extra.push_back("--log");
      extra.push_back(log);
    }
    return extra;
  }

  SimProcess sim_;
  UDP udp_;
};

// Column `name` of the emulator's motion log, one value per state period.
std::vector<double> LogColumn(const std::string& path, const std::string& name) {
  std::ifstream in(path);
  std::string line, cell;
  std::getline(in, line);
  std::stringstream header(line);
  int column = -1;
  for (int k = 0; std::getline(header, cell, ','); ++k) {
    if (cell == name) column = k;
  }
  std::vector<double> values;
  while (column >= 0 && std::getline(in, line)) {
    std::stringstream row(line);
    for (int k = 0; std::getline(row, cell, ','); ++k) {
      if (k == column) values.push_back(cell.empty() ? NAN : std::stod(cell));
    }
  }
  return values;
}

struct Quiet {  // the SDK's own console lines stay out of the test output
  Quiet() { testing::internal::CaptureStdout(); }
  ~Quiet() { testing::internal::GetCapturedStdout(); }
};

}  // namespace

TEST(SimPhysics, StandUpReachesStandingHeightAndHoldsItTwoSeconds) {
  Quiet quiet;
  detail::ResetTransportState();
  const std::string log = LogPath("stand");
  {
    Robot robot(log);
    ASSERT_TRUE(robot.running());
    Safety safety(LeggedType::Zorvan);
    // 2 s rise, 0.5 s to settle, 2 s hold.
    EXPECT_EQ(robot.StandUp(safety, static_cast<int>(4.5 * kRate)), -1) << "the guard tripped";
    for (int j = 0; j < 12; ++j) {
      EXPECT_NEAR(robot.state.motorState[j].q, kStand[j % 3], 0.05) << "joint " << j;
    }
    robot.Stop();
  }
  const std::vector<double> z = LogColumn(log, "z");
  ASSERT_GE(z.size(), static_cast<size_t>(4.5 * kRate));
  EXPECT_LT(z.front(), 0.07) << "starts lying on the floor";
  const auto hold = z.end() - static_cast<long>(2.0 * kRate);
  const auto [low, high] = std::minmax_element(hold, z.end());
  EXPECT_GT(*low, kStandingHeight - 0.02);
  EXPECT_LT(*high, kStandingHeight + 0.02);
  std::remove(log.c_str());
}

// Regression: legs that crept under their own weight reached their stops within seconds, and
// a stand-up started later tripped the guard on its first cycle.
TEST(SimPhysics, LyingRobotStaysStillInsideTheGuardsMargins) {
  Quiet quiet;
  detail::ResetTransportState();
  Robot robot("");
  ASSERT_TRUE(robot.running());
  Safety safety(LeggedType::Zorvan);
  ASSERT_TRUE(robot.Cycle());
  std::array<float, 12> first{};
  for (int j = 0; j < 12; ++j) first[j] = robot.state.motorState[j].q;
  for (int i = 0; i < static_cast<int>(20 * kRate); ++i) ASSERT_TRUE(robot.Cycle());
  for (int j = 0; j < 12; ++j) EXPECT_NEAR(robot.state.motorState[j].q, first[j], 0.01) << j;
  EXPECT_EQ(safety.PositionProtect(robot.cmd, robot.state, 0.087), 1);
}

TEST(SimPhysics, FootForcesAtRestSumToTheWeight) {
  Quiet quiet;
  detail::ResetTransportState();
  Robot robot("");
  ASSERT_TRUE(robot.running());
  Safety safety(LeggedType::Zorvan);
  ASSERT_EQ(robot.StandUp(safety, static_cast<int>(3.0 * kRate)), -1);
  double sum = 0;
  for (int leg = 0; leg < 4; ++leg) {
    EXPECT_GT(robot.state.footForce[leg], 0.15 * kWeight) << "foot " << leg;
    sum += robot.state.footForce[leg];
  }
  EXPECT_NEAR(sum, kWeight, 0.1 * kWeight);
  // At rest on its feet the IMU feels gravity alone, level.
  EXPECT_NEAR(robot.state.imu.accelerometer[2], 9.81, 0.3);
  EXPECT_NEAR(robot.state.imu.rpy[0], 0.0, 0.05);
  EXPECT_NEAR(robot.state.imu.rpy[1], 0.0, 0.05);
  EXPECT_NEAR(robot.state.imu.quaternion[0], 1.0, 0.01);
  // The state reports the torque applied: the calves hold the weight up.
  for (int leg = 0; leg < 4; ++leg) {
    EXPECT_GT(std::fabs(robot.state.motorState[3 * leg + 2].tauEst), 1.0f) << "calf " << leg;
  }
}

TEST(SimPhysics, PowerTripDuringTheStandDropsTheTrunkWithinOneSecond) {
  Quiet quiet;
  detail::ResetTransportState();
  const std::string log = LogPath("trip");
  int trip = -1;
  {
    Robot robot(log);
    ASSERT_TRUE(robot.running());
    Safety safety(LeggedType::Zorvan);
    ASSERT_EQ(robot.StandUp(safety, static_cast<int>(2.5 * kRate)), -1);
    // A power limit the real motion of the rising legs exceeds: the guard switches the leg
    // motors off, and a cut stays cut.
    for (int j = 0; j < 12; ++j) robot.cmd.motorCmd[j].q = kStand[j % 3] + (j % 3 ? 0.3f : 0.0f);
    safety.powerLimit = 5;
    for (int i = 0; i < static_cast<int>(1.5 * kRate); ++i) {
      if (safety.PowerProtect(robot.cmd, robot.state, 10) < 0 && trip < 0) trip = i;
      ASSERT_TRUE(robot.Cycle());
    }
    ASSERT_GE(trip, 0) << "the guard never tripped on real power";
    for (int j = 0; j < 12; ++j) EXPECT_EQ(robot.state.motorState[j].mode, 0) << "motor " << j;
    robot.Stop();
  }
  const std::vector<double> z = LogColumn(log, "z");
  // Log rows: the first command's, 2.5 s of stand, then the trip's cycles.
  const size_t tripped = 1 + static_cast<size_t>(2.5 * kRate) + static_cast<size_t>(trip);
  ASSERT_GT(z.size(), tripped + static_cast<size_t>(kRate));
  EXPECT_GT(z[tripped], kStandingHeight - 0.05) << "still standing when it tripped";
  EXPECT_LT(z[tripped + static_cast<size_t>(kRate)], kStandingHeight / 3);
  std::remove(log.c_str());
}

TEST(SimPhysics, PositionProtectTripsOnARealExcursionToTheModelsStop) {
  Quiet quiet;
  for (LeggedType type : {LeggedType::Zorvan, LeggedType::Pellix}) {
    detail::ResetTransportState();
    const char* name = type == LeggedType::Zorvan ? "zorvan" : "pellix";
    Robot robot("", {"--model", name});
    ASSERT_TRUE(robot.running());
    Safety safety(type);
    ASSERT_TRUE(robot.Cycle());
    EXPECT_EQ(safety.PositionProtect(robot.cmd, robot.state, 0.087), 1) << name << " lying";
    robot.cmd.motorCmd[2].tau = -4.0f;  // fold the front right calf against its stop
    int trip = -1;
    for (int i = 0; i < 500 && trip < 0; ++i) {
      ASSERT_TRUE(robot.Cycle());
      if (safety.PositionProtect(robot.cmd, robot.state, 0.087) < 0) trip = i;
    }
    EXPECT_GE(trip, 0) << name;
    robot.cmd.motorCmd[2].mode = 10;  // keep pressing: the hard stop is the model's range
    for (int i = 0; i < 250; ++i) ASSERT_TRUE(robot.Cycle());
    EXPECT_NEAR(robot.state.motorState[2].q, safety.calfMin, 0.02) << name;
  }
}

TEST(SimPhysics, SameSeedAndCommandsGiveIdenticalDatagrams) {
  Quiet quiet;
  std::vector<std::vector<uint64_t>> runs;
  for (int run = 0; run < 2; ++run) {
    detail::ResetTransportState();
    Robot robot("", {"--seed", "7", "--drop", "0.05", "--duplicate", "0.05"});
    ASSERT_TRUE(robot.running());
    Safety safety(LeggedType::Zorvan);
    ASSERT_EQ(robot.StandUp(safety, 600), -1);
    runs.push_back(robot.digests);
  }
  ASSERT_EQ(runs[0].size(), runs[1].size());
  EXPECT_TRUE(runs[0] == runs[1]);
  // The robot moved: the datagrams differ from one another.
  EXPECT_GT(std::set<uint64_t>(runs[0].begin(), runs[0].end()).size(), runs[0].size() / 2);
}

TEST(SimPhysics, HostileTargetsLeaveThePhysicsFinite) {
  Quiet quiet;
  detail::ResetTransportState();
  Robot robot("");
  ASSERT_TRUE(robot.running());
  for (int j = 0; j < 12; ++j) {
    MotorCmd& m = robot.cmd.motorCmd[j];
    m.q = j % 2 ? NAN : INFINITY;
    m.dq = j % 3 ? -INFINITY : NAN;
    m.Kp = 1000;
    m.Kd = 2000;  // far beyond what the motor can follow
    m.tau = 127;
  }
  for (int i = 0; i < 500; ++i) ASSERT_TRUE(robot.Cycle());
  for (int j = 0; j < 12; ++j) {
    EXPECT_TRUE(std::isfinite(robot.state.motorState[j].q)) << "joint " << j;
    EXPECT_TRUE(std::isfinite(robot.state.motorState[j].dq)) << "joint " << j;
  }
  for (float v : robot.state.imu.quaternion) EXPECT_TRUE(std::isfinite(v));
}

TEST(SimPhysics, SlowStateRatesStepThePhysicsSeveralTimesPerPeriod) {
  Quiet quiet;
  detail::ResetTransportState();
  Robot robot("", {"--rate", "250"});
  ASSERT_TRUE(robot.running());
  ASSERT_TRUE(robot.Cycle());
  const uint32_t first = robot.state.tick;
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(robot.Cycle());
  EXPECT_EQ(robot.state.tick - first, 400u);  // [ms]
}

// Each bad physics option: the exit status and the start of the one line on standard error.
TEST(SimPhysics, BadPhysicsOptionsEndTheEmulatorWithOneLine) {
  struct Case {
    const char* args;
    int status;
    const char* line;
  };
  const Case cases[] = {
      {"--mjcf /nonexistent/robot.xml", 1,
       "torvane-sim: cannot load physics model /nonexistent/robot.xml: "},
      {"--mjcf /etc/hostname", 1, "torvane-sim: cannot load physics model /etc/hostname: "},
      {"--log /nonexistent/dir/motion.csv", 1,
       "torvane-sim: cannot write /nonexistent/dir/motion.csv: "},
      {"--engine warp", 2, "torvane-sim: --engine must be physics or simple, not: warp"},
      {"--log ''", 2, "torvane-sim: --log needs a file name"},
  };
  for (const Case& c : cases) {
    // Standard error only, through the shell for the quoting of the cases.
    const std::string command = std::string(TORVANE_SIM_PATH) +
                                " --level low --port 0 --duration 0.05 " + c.args +
                                " 2>&1 >/dev/null";
    torvane_child::ChildProcess child({"/bin/sh", "-c", command});
    ASSERT_TRUE(child.running());
    const torvane_child::Ending ending = child.Wait(60000);
    std::string out;
    for (const std::string& line : child.Remaining()) out += line + "\n";
    EXPECT_FALSE(ending.killed) << c.args;
    EXPECT_EQ(ending.exit_code, c.status) << c.args;
    EXPECT_EQ(out.rfind(c.line, 0), 0u) << c.args << ": " << out;
    if (c.status == 1) {
      EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    }
  }
}

// Regression: the demo's stand-up plot spent most of its time on the robot lying before its
// client connected. The log starts with the first command; a run without one logs no row.
TEST(SimPhysics, MotionLogStartsWithTheFirstCommand) {
  const std::string log = LogPath("no_client");
  const std::string command = std::string(TORVANE_SIM_PATH) +
                              " --level low --port 0 --duration 0.5 --log " + log +
                              " >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(log);
  std::string line;
  ASSERT_TRUE(std::getline(in, line)) << "no header";
  EXPECT_EQ(line.rfind("t,", 0), 0u) << line;
  EXPECT_FALSE(std::getline(in, line)) << "a row before any command: " << line;
  std::remove(log.c_str());
}
