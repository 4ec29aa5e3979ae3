// joint_commands held to the motors' limits and the guard's ranges: the bounds per model, each
// bound clamping or refusing, and the tally of what became of the samples.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

#include "joint_bounds.h"
#include "joint_command_tally.h"
#include "messages.h"
#include "options.h"
#include "ros_names.h"

using namespace torvane_bridge;
using TORVANE::LeggedType;
using TORVANE::LowCmd;

namespace {

constexpr double kMargin = 0.087;

// The guard's bounds narrowed by the margin, as its position protection computes them.
double Lower(double bound) {
  return bound + kMargin;
}
double Upper(double bound) {
  return bound - kMargin;
}

// A clamped target lies at its bound (within float rounding) and never beyond it.
void ExpectAtLower(double q, double bound) {
  EXPECT_GE(q, bound);
  EXPECT_NEAR(q, bound, 1e-6);
}
void ExpectAtUpper(double q, double bound) {
  EXPECT_LE(q, bound);
  EXPECT_NEAR(q, bound, 1e-6);
}

LowCmd FreshLow() {
  LowCmd cmd{};
  cmd.levelFlag = 0xFF;
  for (int s = 0; s < 20; ++s) {
    cmd.motorCmd[s].mode = 10;
    cmd.motorCmd[s].q = TORVANE::POSITION_STOP;
    cmd.motorCmd[s].dq = TORVANE::VELOCITY_STOP;
  }
  return cmd;
}

// An unnamed joint_commands sample (slot order) over its own arrays.
struct Sample {
  std::array<double, 12> position{}, velocity{}, effort{};
  sensor_msgs_msg_dds__JointState_ msg{};
  Sample(bool q, bool dq, bool tau) {
    msg.position = {12, q ? 12u : 0u, position.data(), false};
    msg.velocity = {12, dq ? 12u : 0u, velocity.data(), false};
    msg.effort = {12, tau ? 12u : 0u, effort.data(), false};
  }
  Sample(const Sample&) = delete;
};

// The Zorvan bounds at the bridge's defaults.
CommandLimits ZorvanLimits() {
  TORVANE::Safety g(LeggedType::Zorvan);
  CommandLimits l;
  l.joints = JointBoundsOf(g, kMargin, 35.5, 21.0);
  return l;
}

// A standing pose inside every Zorvan range.
constexpr std::array<double, 12> kStand = {0, 0.67, -1.3, 0, 0.67, -1.3,
                                           0, 0.67, -1.3, 0, 0.67, -1.3};

}  // namespace

TEST(JointBounds, ZorvanRangesMirroredHipsAndTheMotorsTorqueLimits) {
  TORVANE::Safety g(LeggedType::Zorvan);
  const JointBounds b = JointBoundsOf(g, kMargin, 35.5, 21.0);
  for (int leg = 0; leg < 4; ++leg) {
    const bool right = leg == 0 || leg == 2;
    const int hip = 3 * leg, thigh = hip + 1, calf = hip + 2;
    ExpectAtLower(b.lower[hip], right ? Lower(-1.047) : Lower(-0.873));
    ExpectAtUpper(b.upper[hip], right ? Upper(0.873) : Upper(1.047));
    ExpectAtLower(b.lower[thigh], Lower(-0.524));
    ExpectAtUpper(b.upper[thigh], Upper(3.927));
    ExpectAtLower(b.lower[calf], Lower(-2.775));
    ExpectAtUpper(b.upper[calf], Upper(-0.611));
    EXPECT_EQ(b.range_upper[calf], static_cast<float>(-0.611));
    EXPECT_EQ(b.effort[hip], 23.7f);
    EXPECT_EQ(b.effort[thigh], 23.7f);
    EXPECT_EQ(b.effort[calf], 35.5f);
  }
  EXPECT_EQ(b.velocity, 21.0);
  // The guard is asked, not changed.
  EXPECT_EQ(g.overPowerCount, 0);
  EXPECT_EQ(g.hipMin, -0.873);
}

TEST(JointBounds, OtherModelsAndALowerEffortCeiling) {
  TORVANE::Safety vesko(LeggedType::Vesko);
  const JointBounds v = JointBoundsOf(vesko, 0.1, 10.0, 5.0);
  ExpectAtLower(v.lower[0], -0.75 + 0.1);
  ExpectAtUpper(v.upper[9], 0.75 - 0.1);
  ExpectAtUpper(v.upper[5], -0.6 - 0.1);
  for (int s = 0; s < 12; ++s) EXPECT_EQ(v.effort[s], 10.0) << s;
  EXPECT_EQ(v.velocity, 5.0);
  // A ceiling between the limits binds the calves only.
  TORVANE::Safety pellix(LeggedType::Pellix);
  const JointBounds p = JointBoundsOf(pellix, 0.0, 30.0, 21.0);
  EXPECT_EQ(p.effort[0], 23.7f);
  EXPECT_EQ(p.effort[4], 23.7f);
  EXPECT_EQ(p.effort[8], 30.0);
  ExpectAtUpper(p.upper[1], 4.19);  // no margin: the range itself
}

TEST(JointBounds, BoundClampsWithinReachAndRefusesBeyond) {
  double v = 5;
  EXPECT_EQ(Bound(v, -1, 1, -10, 10), Fit::kClamped);
  EXPECT_EQ(v, 1);
  v = -10;  // the reach itself still clamps
  EXPECT_EQ(Bound(v, -1, 1, -10, 10), Fit::kClamped);
  EXPECT_EQ(v, -1);
  v = 0.5;
  EXPECT_EQ(Bound(v, -1, 1, -10, 10), Fit::kWithin);
  EXPECT_EQ(v, 0.5);
  v = 10.5;
  EXPECT_EQ(Bound(v, -1, 1, -10, 10), Fit::kOutOfReach);
  EXPECT_EQ(v, 10.5);
}

TEST(JointCommandBounds, EffortClampedToEachMotorsLimit) {
  Sample c(false, false, true);
  for (int s = 0; s < 12; ++s) c.effort[s] = (s % 2 ? -1 : 1) * 100.0;  // within the wire's reach
  c.effort[11] = 1.5;                                                   // within: unchanged
  LowCmd out = FreshLow();
  const char* why = "";
  JointCommandOutcome o;
  ASSERT_TRUE(JointCommandToLowCmd(c.msg, ZorvanLimits(), FreshLow(), out, &why, &o)) << why;
  for (int s = 0; s < 11; ++s) {
    const float limit = s % 3 == 2 ? 35.5f : 23.7f;
    EXPECT_EQ(out.motorCmd[s].tau, (s % 2 ? -1 : 1) * limit) << s;
  }
  EXPECT_EQ(out.motorCmd[11].tau, 1.5f);
  EXPECT_TRUE(o.effort_clamped);
  EXPECT_FALSE(o.velocity_clamped);
  EXPECT_FALSE(o.position_clamped);
  EXPECT_EQ(o.refused, Refusal::kNone);
}

TEST(JointCommandBounds, VelocityClampedToTheJointSpeed) {
  Sample c(false, true, false);
  for (int s = 0; s < 12; ++s) c.velocity[s] = s < 6 ? 50.0 : -50.0;
  c.velocity[3] = -20.0;
  LowCmd out = FreshLow();
  const char* why = "";
  JointCommandOutcome o;
  ASSERT_TRUE(JointCommandToLowCmd(c.msg, ZorvanLimits(), FreshLow(), out, &why, &o)) << why;
  for (int s = 0; s < 12; ++s) {
    if (s == 3) continue;
    EXPECT_EQ(out.motorCmd[s].dq, s < 6 ? 21.0f : -21.0f) << s;
  }
  EXPECT_EQ(out.motorCmd[3].dq, -20.0f);
  EXPECT_TRUE(o.velocity_clamped);
  EXPECT_FALSE(o.effort_clamped);
}

TEST(JointCommandBounds, PositionClampedIntoTheRangeNarrowedByTheMargin) {
  Sample c(true, false, false);
  c.position = kStand;
  c.position[0] = 1.0;   // FR hip above its upper bound 0.873
  c.position[3] = 0.9;   // FL hip within: its upper bound is 1.047 (less the margin, 0.96)
  c.position[9] = -1.5;  // RL hip below -0.873
  c.position[7] = 4.5;   // RR thigh above 3.927
  c.position[11] = 0.0;  // RL calf above -0.611
  LowCmd out = FreshLow();
  const char* why = "";
  JointCommandOutcome o;
  ASSERT_TRUE(JointCommandToLowCmd(c.msg, ZorvanLimits(), FreshLow(), out, &why, &o)) << why;
  ExpectAtUpper(out.motorCmd[0].q, Upper(0.873));
  EXPECT_EQ(out.motorCmd[3].q, 0.9f);
  ExpectAtLower(out.motorCmd[9].q, Lower(-0.873));
  ExpectAtUpper(out.motorCmd[7].q, Upper(3.927));
  ExpectAtUpper(out.motorCmd[11].q, Upper(-0.611));
  EXPECT_EQ(out.motorCmd[1].q, 0.67f);  // within: unchanged
  EXPECT_EQ(out.motorCmd[2].q, -1.3f);
  EXPECT_TRUE(o.position_clamped);
  // The guard's PositionLimit after it changes nothing: the clamp is inside its ranges.
  TORVANE::Safety g(LeggedType::Zorvan);
  LowCmd guarded = out;
  g.PositionLimit(guarded);
  EXPECT_EQ(std::memcmp(&guarded, &out, sizeof out), 0);
}

// The guard clamps with its bounds rounded to float but protects with them unrounded: a joint
// resting exactly at a clamped target, at either edge, is within the position protection, for
// every model and with no margin at all.
TEST(JointCommandBounds, RegressionJointAtAClampedTargetIsNotOutOfRange) {
  for (LeggedType model :
       {LeggedType::Zorvan, LeggedType::Pellix, LeggedType::Tamrin, LeggedType::Vesko}) {
    for (double margin : {0.0, kMargin, 0.5}) {
      TORVANE::Safety guard(model);
      CommandLimits limits;
      limits.joints = JointBoundsOf(guard, margin, 35.5, 21.0);
      for (double far : {-1.0, 1.0}) {  // a radian beyond either edge: clamped
        Sample c(true, false, false);
        const JointBounds& b = limits.joints;
        for (int s = 0; s < 12; ++s)
          c.position[s] = far + (far < 0 ? b.range_lower : b.range_upper)[s];
        LowCmd out = FreshLow();
        const char* why = "";
        ASSERT_TRUE(JointCommandToLowCmd(c.msg, limits, FreshLow(), out, &why)) << why;
        TORVANE::LowState state{};
        for (int s = 0; s < 12; ++s) state.motorState[s].q = out.motorCmd[s].q;
        LowCmd cut = out;
        EXPECT_EQ(guard.PositionProtect(cut, state, margin), 1)
            << static_cast<int>(model) << " margin " << margin << " at " << far;
        LowCmd limited = out;
        guard.PositionLimit(limited);
        EXPECT_EQ(std::memcmp(&limited, &out, sizeof out), 0);
      }
    }
  }
}

// A value beyond its reach is no command for this robot: the sample is refused whole, named
// for the field, and `out` keeps what it had.
TEST(JointCommandBounds, FarBeyondAnyBoundTheSampleIsRefused) {
  struct Case {
    const char* what;
    int field;  // 0 position, 1 velocity, 2 effort
    int slot;
    double value;
    Refusal refusal;
  };
  const Case cases[] = {
      {"effort 1e6", 2, 0, 1e6, Refusal::kEffort},
      {"effort past the wire", 2, 5, -128.1, Refusal::kEffort},
      {"velocity 1e6", 1, 4, 1e6, Refusal::kVelocity},
      {"velocity past five top speeds", 1, 11, -105.5, Refusal::kVelocity},
      {"position 1e6", 0, 2, 1e6, Refusal::kPosition},
      {"thigh in degrees", 0, 1, 38.4, Refusal::kPosition},
      {"calf a quarter turn and more below", 0, 8, -2.775 - 1.58, Refusal::kPosition},
  };
  for (const Case& k : cases) {
    Sample c(true, true, true);
    c.position = kStand;
    (k.field == 0 ? c.position : k.field == 1 ? c.velocity : c.effort)[k.slot] = k.value;
    LowCmd out{};
    out.reserve = 0x5A5A5A5A;
    const LowCmd before = out;
    const char* why = nullptr;
    JointCommandOutcome o;
    EXPECT_FALSE(JointCommandToLowCmd(c.msg, ZorvanLimits(), FreshLow(), out, &why, &o)) << k.what;
    EXPECT_EQ(o.refused, k.refusal) << k.what;
    ASSERT_NE(why, nullptr) << k.what;
    EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0) << k.what;
  }
  // Just inside each reach: clamped, taken.
  Sample c(true, true, true);
  c.position = kStand;
  c.effort[5] = -127.9;
  c.velocity[11] = -104.9;
  c.position[8] = -2.775 - 1.56;
  LowCmd out = FreshLow();
  const char* why = "";
  JointCommandOutcome o;
  ASSERT_TRUE(JointCommandToLowCmd(c.msg, ZorvanLimits(), FreshLow(), out, &why, &o)) << why;
  EXPECT_EQ(out.motorCmd[5].tau, -35.5f);
  EXPECT_EQ(out.motorCmd[11].dq, -21.0f);
  ExpectAtLower(out.motorCmd[8].q, Lower(-2.775));
  EXPECT_TRUE(o.effort_clamped && o.velocity_clamped && o.position_clamped);
}

// The hostile host's twenty samples of 1e6 N m on every joint, which went out as the largest
// torque the packed command carries: refused and counted, none taken.
TEST(JointCommandBounds, RegressionMillionNewtonMetreEffortIsRefusedAndCounted) {
  JointCommandTally tally;
  const CommandLimits limits = ZorvanLimits();
  for (int n = 0; n < 20; ++n) {
    Sample c(false, false, true);
    c.effort.fill(1e6);
    LowCmd out = FreshLow();
    const char* why = "";
    JointCommandOutcome o;
    EXPECT_FALSE(JointCommandToLowCmd(c.msg, limits, FreshLow(), out, &why, &o));
    tally.Count(o);
  }
  EXPECT_EQ(tally.Line(),
            "joint_commands: 0 taken, 20 refused (NaN 0, malformed 0, effort 20, velocity 0, "
            "position 0), clamped: effort 0, velocity 0, position 0");
}

TEST(JointCommandTally, CountsEachOutcomeOnce) {
  JointCommandTally t;
  JointCommandOutcome o;
  t.Count(o);  // taken as it was
  o.effort_clamped = o.position_clamped = true;
  t.Count(o);
  t.Count(o);
  o = {};
  o.velocity_clamped = true;
  t.Count(o);
  for (Refusal r :
       {Refusal::kNotANumber, Refusal::kMalformed, Refusal::kMalformed, Refusal::kVelocity,
        Refusal::kPosition, Refusal::kPosition, Refusal::kPosition}) {
    JointCommandOutcome refused;
    refused.refused = r;
    refused.effort_clamped = true;  // a refused sample counts only as refused
    t.Count(refused);
  }
  EXPECT_EQ(t.Line(),
            "joint_commands: 4 taken, 7 refused (NaN 1, malformed 2, effort 0, velocity 1, "
            "position 3), clamped: effort 2, velocity 1, position 2");
}

// The conversion's own refusals say why, by kind.
TEST(JointCommandTally, MalformedAndNotANumberAreToldApart) {
  JointCommandOutcome o;
  const char* why = "";
  LowCmd out = FreshLow();
  Sample nan(true, false, false);
  nan.position[0] = std::nan("");
  EXPECT_FALSE(JointCommandToLowCmd(nan.msg, ZorvanLimits(), FreshLow(), out, &why, &o));
  EXPECT_EQ(o.refused, Refusal::kNotANumber);
  Sample none(false, false, false);
  EXPECT_FALSE(JointCommandToLowCmd(none.msg, ZorvanLimits(), FreshLow(), out, &why, &o));
  EXPECT_EQ(o.refused, Refusal::kMalformed);
}

// The bridge's torque limits are the emulator's motors': each actuator's ctrlrange in its model.
TEST(MotorLimits, AgreeWithTheEmulatorsModel) {
  std::ifstream f(TORVANE_SIM_MODEL);
  ASSERT_TRUE(f) << TORVANE_SIM_MODEL;
  std::stringstream text;
  text << f.rdbuf();
  const std::string xml = text.str();
  const std::regex motor(R"re(<motor name="(\w+)" joint="\w+" ctrlrange="(\S+) (\S+)"/>)re");
  int seen = 0;
  for (auto it = std::sregex_iterator(xml.begin(), xml.end(), motor); it != std::sregex_iterator();
       ++it, ++seen) {
    const int slot = JointSlot(((*it)[1].str() + "_joint").c_str());
    ASSERT_GE(slot, 0) << (*it)[1];
    EXPECT_EQ(seen, slot) << "motors in slot order";
    EXPECT_EQ(std::stof((*it)[3].str()), TORVANE::MotorTorqueLimit(slot)) << (*it)[1];
    EXPECT_EQ(std::stof((*it)[2].str()), -TORVANE::MotorTorqueLimit(slot)) << (*it)[1];
  }
  EXPECT_EQ(seen, 12);
}

namespace {
int Parse(std::vector<const char*> args, Options& out) {
  std::vector<char*> argv = {const_cast<char*>("torvane-bridge")};
  for (const char* a : args) argv.push_back(const_cast<char*>(a));
  return ParseOptions(static_cast<int>(argv.size()), argv.data(), nullptr, out);
}
}  // namespace

// --max-effort defaults to the largest motor limit, which leaves each motor at its own; neither
// option goes past what the motors can do.
TEST(BridgeOptions, JointCommandBoundsDefaultToTheMotorsAndStayWithinThem) {
  Options d;
  ASSERT_EQ(Parse({"--level", "low"}, d), 0);
  EXPECT_EQ(d.max_effort, 35.5);
  EXPECT_EQ(d.max_joint_speed, 21.0);
  Options o;
  ASSERT_EQ(Parse({"--level", "low", "--max-effort", "12.5", "--max-joint-speed", "3"}, o), 0);
  EXPECT_EQ(o.max_effort, 12.5);
  EXPECT_EQ(o.max_joint_speed, 3.0);
  Options z;
  ASSERT_EQ(Parse({"--level", "low", "--max-effort", "0", "--max-joint-speed", "0"}, z), 0);
  EXPECT_EQ(z.max_effort, 0.0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Parse({"--level", "low", "--max-effort", "40"}, o), 2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "torvane-bridge: --max-effort must be 0 to 35.5 N m, not: 40 (see torvane-bridge "
            "--help)\n");
  for (std::vector<const char*> bad : {std::vector<const char*>{"--max-effort", "-1"},
                                       {"--max-effort", "nan"},
                                       {"--max-joint-speed", "21.5"},
                                       {"--max-joint-speed", "fast"}}) {
    bad.insert(bad.begin(), {"--level", "low"});
    testing::internal::CaptureStderr();
    EXPECT_EQ(Parse(bad, o), 2) << bad.back();
    testing::internal::GetCapturedStderr();
  }
}
