// ROS 2's names on DDS: type names of the generated descriptors, topic names, namespaces, the
// joint names; and the command line, ROS_DOMAIN_ID included.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "geometry_msgs.h"
#include "nav_msgs.h"
#include "options.h"
#include "ros_names.h"
#include "sensor_msgs.h"

using namespace torvane_bridge;

TEST(RosNames, TypeNamesAreThoseOfRos2OnDds) {
  EXPECT_STREQ(sensor_msgs_msg_dds__JointState__desc.m_typename,
               "sensor_msgs::msg::dds_::JointState_");
  EXPECT_STREQ(sensor_msgs_msg_dds__Imu__desc.m_typename, "sensor_msgs::msg::dds_::Imu_");
  EXPECT_STREQ(nav_msgs_msg_dds__Odometry__desc.m_typename, "nav_msgs::msg::dds_::Odometry_");
  EXPECT_STREQ(geometry_msgs_msg_dds__Twist__desc.m_typename, "geometry_msgs::msg::dds_::Twist_");
  // No keys: one instance per topic, as ROS 2 messages have.
  EXPECT_EQ(sensor_msgs_msg_dds__JointState__desc.m_nkeys, 0u);
  EXPECT_EQ(sensor_msgs_msg_dds__Imu__desc.m_nkeys, 0u);
  EXPECT_EQ(nav_msgs_msg_dds__Odometry__desc.m_nkeys, 0u);
  EXPECT_EQ(geometry_msgs_msg_dds__Twist__desc.m_nkeys, 0u);
}

TEST(RosNames, TopicsLiveUnderRtAndTheNamespace) {
  EXPECT_EQ(TopicName("", "joint_states"), "rt/joint_states");
  EXPECT_EQ(TopicName("dog1", "cmd_vel"), "rt/dog1/cmd_vel");
  EXPECT_EQ(TopicName("fleet/dog_2", "odom"), "rt/fleet/dog_2/odom");
  EXPECT_EQ(FramePrefix(""), "");
  EXPECT_EQ(FramePrefix("fleet/dog_2"), "fleet/dog_2/");
}

TEST(RosNames, NamespacesFollowRos2Rules) {
  std::string out = "unchanged";
  for (const char* good : {"dog1", "/dog1", "fleet/dog_2", "_a/B9", "", "/"}) {
    EXPECT_TRUE(NormaliseNamespace(good, out)) << good;
  }
  EXPECT_TRUE(NormaliseNamespace("/fleet/a", out));
  EXPECT_EQ(out, "fleet/a");
  out = "unchanged";
  for (const char* bad :
       {"1dog", "dog/2x", "dog//a", "dog/", "//dog", "dog-1", "dog 1", "dög", "a/~", "{ns}"}) {
    EXPECT_FALSE(NormaliseNamespace(bad, out)) << bad;
    EXPECT_EQ(out, "unchanged") << bad;
  }
  EXPECT_FALSE(NormaliseNamespace(std::string(201, 'a'), out));
}

TEST(RosNames, JointNamesInSlotOrder) {
  EXPECT_STREQ(kJointNames[0], "FR_hip_joint");
  EXPECT_STREQ(kJointNames[4], "FL_thigh_joint");
  EXPECT_STREQ(kJointNames[8], "RR_calf_joint");
  EXPECT_STREQ(kJointNames[11], "RL_calf_joint");
  for (int s = 0; s < 12; ++s) EXPECT_EQ(JointSlot(kJointNames[s]), s);
  EXPECT_EQ(JointSlot("FR_hip"), -1);
  EXPECT_EQ(JointSlot(""), -1);
  EXPECT_EQ(JointSlot(nullptr), -1);
}

namespace {
int Parse(std::vector<const char*> args, const char* domain, Options& out) {
  std::vector<char*> argv = {const_cast<char*>("torvane-bridge")};
  for (const char* a : args) argv.push_back(const_cast<char*>(a));
  return ParseOptions(static_cast<int>(argv.size()), argv.data(), domain, out);
}
}  // namespace

TEST(BridgeOptions, DefaultsAndValues) {
  Options o;
  ASSERT_EQ(Parse({"--level", "low"}, nullptr, o), 0);
  EXPECT_FALSE(o.high_level);
  EXPECT_EQ(o.domain, 0u);
  EXPECT_EQ(o.rate_hz, 500.0);
  EXPECT_EQ(o.deadline_s, 0.1);
  EXPECT_EQ(o.ros_namespace, "");
  Options h;
  ASSERT_EQ(Parse({"--level", "high", "--robot", "10.0.0.2", "--robot-port", "8082", "--local-port",
                   "9000", "--namespace", "/dog1", "--deadline", "250", "--model", "vesko"},
                  "42", h),
            0);
  EXPECT_TRUE(h.high_level);
  EXPECT_EQ(h.robot_address, "10.0.0.2");
  EXPECT_EQ(h.local_port, 9000);
  EXPECT_EQ(h.ros_namespace, "dog1");
  EXPECT_EQ(h.domain, 42u);
  EXPECT_DOUBLE_EQ(h.deadline_s, 0.25);
  EXPECT_EQ(h.model, TORVANE::LeggedType::Vesko);
}

TEST(BridgeOptions, DomainIdAsRos2ReadsIt) {
  uint32_t d = 7;
  EXPECT_TRUE(ParseDomainId(nullptr, d));
  EXPECT_EQ(d, 0u);
  EXPECT_TRUE(ParseDomainId("", d));
  EXPECT_EQ(d, 0u);
  EXPECT_TRUE(ParseDomainId("232", d));
  EXPECT_EQ(d, 232u);
  for (const char* bad : {"233", "-1", "1x", " 1", "0x10", "99999999999999999999"}) {
    EXPECT_FALSE(ParseDomainId(bad, d)) << bad;
  }
}

TEST(BridgeOptions, BadInputIsRefused) {
  const std::vector<std::vector<const char*>> bad = {
      {},
      {"--level", "middle"},
      {"--level", "low", "--robot", "robot.local"},
      {"--level", "low", "--robot-port", "0"},
      {"--level", "low", "--local-port", "65536"},
      {"--level", "low", "--namespace", "9lives"},
      {"--level", "low", "--rate", "0"},
      {"--level", "low", "--rate", "nan"},
      {"--level", "low", "--deadline", "0"},
      {"--level", "low", "--stiffness", "-1"},
      {"--level", "low", "--power-level", "11"},
      {"--level", "low", "--model", "cat"},
      {"--level", "low", "--priority", "100"},
      {"--level", "low", "--bogus", "1"},
      {"--level", "low", "stray"},
      {"--level"},
  };
  for (const auto& args : bad) {
    Options o;
    EXPECT_EQ(Parse(args, nullptr, o), 2) << (args.empty() ? "(none)" : args.back());
  }
  Options o;
  EXPECT_EQ(Parse({"--level", "low"}, "abc", o), 2);
}

// Regression: an unknown option was taken for one missing its value ("missing value for:
// --bogus"), and the bridge's words drifted from the emulator's.
TEST(BridgeOptions, AnUnknownOptionIsNamedSo) {
  Options o;
  testing::internal::CaptureStderr();
  EXPECT_EQ(Parse({"--level", "high", "--bogus"}, nullptr, o), 2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "torvane-bridge: unknown option: --bogus (see torvane-bridge --help)\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(Parse({"--level", "high", "--robot-port", "+8082"}, nullptr, o), 2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "torvane-bridge: not a port (1..65535): +8082 (see torvane-bridge --help)\n");
}
