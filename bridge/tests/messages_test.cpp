// Commands from ROS 2 messages into the robot's records, the safe commands, and the hand-over
// between threads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#include "latest.h"
#include "messages.h"
#include "ros_names.h"

using namespace torvane_bridge;
using TORVANE::HighCmd;
using TORVANE::LowCmd;

namespace {

LowCmd FreshLow() {
  LowCmd cmd{};
  cmd.head = {0xFE, 0xEF};
  cmd.levelFlag = 0xFF;
  for (int s = 0; s < 20; ++s) {
    TORVANE::MotorCmd m{};
    m.mode = 10;
    m.q = TORVANE::POSITION_STOP;
    m.dq = TORVANE::VELOCITY_STOP;
    cmd.motorCmd[s] = m;
  }
  return cmd;
}

// A joint_commands sample over caller-owned arrays.
struct JointCommand {
  std::array<char*, 12> names{};
  std::array<double, 12> position{}, velocity{}, effort{};
  sensor_msgs_msg_dds__JointState_ msg{};
  JointCommand(uint32_t n_names, uint32_t n_position, uint32_t n_velocity, uint32_t n_effort) {
    for (int s = 0; s < 12; ++s) names[s] = const_cast<char*>(kJointNames[s]);
    msg.name = {12, n_names, names.data(), false};
    msg.position = {12, n_position, position.data(), false};
    msg.velocity = {12, n_velocity, velocity.data(), false};
    msg.effort = {12, n_effort, effort.data(), false};
  }
};

CommandLimits Limits() {
  CommandLimits l;
  l.stiffness = 30.0f;
  l.damping = 1.5f;
  l.max_speed = 1.0f;
  l.max_yaw_rate = 2.0f;
  return l;
}

}  // namespace

TEST(JointCommands, NamedInAnyOrderReachTheirSlots) {
  JointCommand c(12, 12, 12, 12);
  for (int i = 0; i < 12; ++i) {
    c.names[i] = const_cast<char*>(kJointNames[11 - i]);  // reversed
    c.position[i] = 0.1 * i;
    c.velocity[i] = -0.2 * i;
    c.effort[i] = 0.5 * i;
  }
  const LowCmd base = FreshLow();
  LowCmd out = base;
  const char* why = "";
  ASSERT_TRUE(JointCommandToLowCmd(c.msg, Limits(), base, out, &why)) << why;
  for (int i = 0; i < 12; ++i) {
    const TORVANE::MotorCmd m = out.motorCmd[11 - i];
    EXPECT_EQ(m.mode, 10);
    EXPECT_FLOAT_EQ(m.q, static_cast<float>(0.1 * i));
    EXPECT_FLOAT_EQ(m.dq, static_cast<float>(-0.2 * i));
    EXPECT_FLOAT_EQ(m.tau, static_cast<float>(0.5 * i));
    EXPECT_EQ(m.Kp, 30.0f);
    EXPECT_EQ(m.Kd, 1.5f);
  }
  // Slots 12..19 and the frame keep the base's values.
  for (int s = 12; s < 20; ++s) EXPECT_EQ(std::memcmp(&out.motorCmd[s], &base.motorCmd[s], 33), 0);
  EXPECT_EQ(out.levelFlag, 0xFF);
}

TEST(JointCommands, UnnamedWithoutPositionIsVelocityControl) {
  JointCommand c(0, 0, 12, 0);
  for (int i = 0; i < 12; ++i) c.velocity[i] = 1.0;
  LowCmd out = FreshLow();
  const char* why = "";
  ASSERT_TRUE(JointCommandToLowCmd(c.msg, Limits(), FreshLow(), out, &why)) << why;
  for (int s = 0; s < 12; ++s) {
    const TORVANE::MotorCmd m = out.motorCmd[s];
    EXPECT_EQ(m.Kp, 0.0f) << s;  // no position given: no stiffness pulling toward one
    EXPECT_EQ(m.q, TORVANE::POSITION_STOP);
    EXPECT_EQ(m.dq, 1.0f);
    EXPECT_EQ(m.tau, 0.0f);
  }
}

TEST(JointCommands, MalformedOnesChangeNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* what;
    JointCommand cmd;
  };
  std::vector<Case> cases;
  cases.push_back({"three names", JointCommand(3, 3, 0, 0)});
  cases.push_back({"11 positions", JointCommand(0, 11, 0, 0)});
  cases.push_back({"13 efforts", JointCommand(0, 12, 0, 13)});
  cases.push_back({"nothing to do", JointCommand(0, 0, 0, 0)});
  {
    JointCommand c(12, 12, 0, 0);
    c.names[5] = const_cast<char*>("FL_knee_joint");
    cases.push_back({"unknown name", c});
  }
  {
    JointCommand c(12, 12, 0, 0);
    c.names[5] = const_cast<char*>(kJointNames[4]);
    cases.push_back({"name twice", c});
  }
  {
    JointCommand c(12, 12, 0, 0);
    c.names[5] = nullptr;
    cases.push_back({"null name", c});
  }
  {
    JointCommand c(0, 12, 0, 0);
    c.position[3] = nan;
    cases.push_back({"NaN position", c});
  }
  {
    JointCommand c(0, 12, 12, 0);
    c.velocity[0] = inf;
    cases.push_back({"infinite velocity", c});
  }
  for (Case& k : cases) {
    // The copies point at their own arrays again.
    JointCommand& c = k.cmd;
    c.msg.name._buffer = c.names.data();
    c.msg.position._buffer = c.position.data();
    c.msg.velocity._buffer = c.velocity.data();
    c.msg.effort._buffer = c.effort.data();
    LowCmd out{};
    out.reserve = 0x5A5A5A5A;
    const LowCmd before = out;
    const char* why = nullptr;
    EXPECT_FALSE(JointCommandToLowCmd(c.msg, Limits(), FreshLow(), out, &why)) << k.what;
    EXPECT_NE(why, nullptr) << k.what;
    EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0) << k.what;
  }
}

TEST(CmdVel, WalksClampedAndRefusesNonNumbers) {
  HighCmd base{};
  base.head = {0xFE, 0xEF};
  base.levelFlag = 0xEE;
  geometry_msgs_msg_dds__Twist_ t{};
  t.linear = {0.4, -3.0, 9.0};  // z ignored: the robot walks on the ground
  t.angular = {1.0, 1.0, 5.0};
  HighCmd out{};
  const char* why = "";
  ASSERT_TRUE(TwistToHighCmd(t, Limits(), base, out, &why));
  EXPECT_EQ(out.mode, kWalkMode);
  const std::array<float, 2> v = out.velocity;
  EXPECT_FLOAT_EQ(v[0], 0.4f);
  EXPECT_FLOAT_EQ(v[1], -1.0f);
  EXPECT_FLOAT_EQ(out.yawSpeed, 2.0f);
  EXPECT_EQ(out.levelFlag, 0xEE);

  for (double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
    geometry_msgs_msg_dds__Twist_ b = t;
    b.angular.z = bad;
    HighCmd untouched{};
    untouched.mode = 7;
    EXPECT_FALSE(TwistToHighCmd(b, Limits(), base, untouched, &why));
    EXPECT_EQ(untouched.mode, 7);
  }
}

TEST(SafeCommands, StandStillAndDampedLegs) {
  HighCmd base{};
  base.levelFlag = 0xEE;
  base.mode = 2;
  base.velocity = {0.5f, 0.5f};
  base.yawSpeed = 1.0f;
  base.bodyHeight = 0.05f;
  const HighCmd h = SafeHighCmd(base);
  EXPECT_EQ(h.mode, 0);
  const std::array<float, 2> v = h.velocity;
  EXPECT_EQ(v[0], 0.0f);
  EXPECT_EQ(v[1], 0.0f);
  EXPECT_EQ(h.yawSpeed, 0.0f);
  EXPECT_EQ(h.bodyHeight, 0.05f);

  const LowCmd low = SafeLowCmd(FreshLow(), 2.5f);
  for (int s = 0; s < 12; ++s) {
    const TORVANE::MotorCmd m = low.motorCmd[s];
    EXPECT_EQ(m.mode, 10);
    EXPECT_EQ(m.Kp, 0.0f);
    EXPECT_EQ(m.Kd, 2.5f);
    EXPECT_EQ(m.dq, 0.0f);
    EXPECT_EQ(m.tau, 0.0f);
  }
  EXPECT_EQ(low.motorCmd[12].dq, TORVANE::VELOCITY_STOP);  // beyond the legs: untouched
}

TEST(Latest, HandsOverOnlyNewValues) {
  Latest<int> l;
  EXPECT_FALSE(l.Take());
  l.Back() = 1;
  l.Publish();
  l.Back() = 2;
  l.Publish();  // 1 was never taken: replaced
  ASSERT_TRUE(l.Take());
  EXPECT_EQ(l.Front(), 2);
  EXPECT_FALSE(l.Take());
  EXPECT_EQ(l.Front(), 2);
  l.Back() = 3;
  l.Publish();
  ASSERT_TRUE(l.Take());
  EXPECT_EQ(l.Front(), 3);
}

// Values written whole are read whole: each slot carries a counter in all its words.
TEST(Latest, NoTornValuesAcrossThreads) {
  Latest<std::array<uint64_t, 64>> l;
  constexpr uint64_t kCount = 200000;
  std::thread producer([&] {
    for (uint64_t i = 1; i <= kCount; ++i) {
      l.Back().fill(i);
      l.Publish();
    }
  });
  uint64_t last = 0;
  bool torn = false, backwards = false;
  while (last < kCount) {
    if (!l.Take()) continue;
    const auto& v = l.Front();
    for (uint64_t x : v) torn = torn || x != v[0];
    backwards = backwards || v[0] <= last;
    last = v[0];
  }
  producer.join();
  EXPECT_FALSE(torn);
  EXPECT_FALSE(backwards);
}
