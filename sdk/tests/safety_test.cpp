#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "torvane/safety.h"
#include "udp_test_util.h"

using namespace TORVANE;
using torvane_test::Capture;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

LowCmd CommandWithModes(uint8_t mode) {
  LowCmd cmd{};
  for (auto& m : cmd.motorCmd) m.mode = mode;
  return cmd;
}

// Puts `watts` of mechanical power into one leg joint of the state.
LowState StateWithPower(double watts) {
  LowState s{};
  s.motorState[4].tauEst = 1.0f;
  s.motorState[4].dq = static_cast<float>(watts);
  return s;
}

std::vector<int> Trips(Safety& safety, const LowState& state, int calls, int factor = 10) {
  std::vector<int> results;
  for (int i = 0; i < calls; ++i) {
    LowCmd cmd = CommandWithModes(10);
    LowState s = state;
    results.push_back(safety.PowerProtect(cmd, s, factor));
  }
  return results;
}

}  // namespace

TEST(Clamp, OrderOfBounds) {
  float v = 5.0f;
  clamp(v, 3.0f, 1.0f);
  EXPECT_EQ(v, 1.0f);  // lower first, then upper
  v = 0.0f;
  clamp(v, 3.0f, 1.0f);
  EXPECT_EQ(v, 1.0f);
  v = kNaN;
  clamp(v, -1.0f, 1.0f);
  EXPECT_TRUE(std::isnan(v));
}

TEST(Safety, ConstructionMessages) {
  auto c = Capture([] { Safety s(LeggedType::Vesko); });
  EXPECT_EQ(c.out, "End Safety.\n");
  c = Capture([] {
    Safety s(static_cast<LeggedType>(7));
    EXPECT_EQ(s.hipMax + s.hipMin + s.thighMax + s.thighMin + s.calfMax + s.calfMin, 0.0);
    EXPECT_EQ(s.powerLimit, 1000);
    EXPECT_EQ(s.overPowerCount, 0);
  });
  EXPECT_EQ(c.out, "Legged Robot Type Error.\nEnd Safety.\n");
}

TEST(PositionLimit, ClampsPerModelWithMirroredRightHips) {
  Safety vesko(LeggedType::Vesko);
  LowCmd cmd{};
  cmd.motorCmd[0].q = 1.0f;
  cmd.motorCmd[3].q = -2.0f;
  cmd.motorCmd[2].q = 0.0f;
  cmd.motorCmd[12].q = 99.0f;
  vesko.PositionLimit(cmd);
  EXPECT_EQ(cmd.motorCmd[0].q, 0.75f);
  EXPECT_EQ(cmd.motorCmd[3].q, -0.75f);
  EXPECT_EQ(cmd.motorCmd[2].q, -0.6f);  // calf upper bound, rounded to float
  EXPECT_EQ(cmd.motorCmd[12].q, 99.0f);

  Safety zorvan(LeggedType::Zorvan);
  LowCmd z{};
  for (int s : {0, 3, 6, 9}) z.motorCmd[s].q = 1.0f;
  z.motorCmd[1].q = -5.0f;
  z.motorCmd[11].q = -5.0f;
  zorvan.PositionLimit(z);
  EXPECT_EQ(z.motorCmd[0].q, 0.873f);  // right hip: upper bound is -hipMin
  EXPECT_EQ(z.motorCmd[6].q, 0.873f);
  EXPECT_EQ(z.motorCmd[3].q, 1.0f);  // left hip: up to 1.047
  EXPECT_EQ(z.motorCmd[9].q, 1.0f);
  for (int s : {0, 6}) {
    z.motorCmd[s].q = -2.0f;
  }
  zorvan.PositionLimit(z);
  EXPECT_EQ(z.motorCmd[0].q, -1.047f);
  EXPECT_EQ(z.motorCmd[1].q, -0.524f);
  EXPECT_EQ(z.motorCmd[11].q, -2.775f);
}

TEST(PositionLimit, StopValueIsClampedLikeAnyOtherAndOtherFieldsStay) {
  Safety pellix(LeggedType::Pellix);
  LowCmd cmd{};
  for (auto& m : cmd.motorCmd) {
    m.q = POSITION_STOP;
    m.mode = 10;
    m.dq = VELOCITY_STOP;
  }
  pellix.PositionLimit(cmd);
  EXPECT_EQ(cmd.motorCmd[0].q, 0.802f);
  EXPECT_EQ(cmd.motorCmd[1].q, 4.19f);
  EXPECT_EQ(cmd.motorCmd[2].q, -0.916f);
  for (int s = 12; s < 20; ++s) EXPECT_EQ(cmd.motorCmd[s].q, POSITION_STOP);
  for (const auto& m : cmd.motorCmd) {
    EXPECT_EQ(m.mode, 10);
    EXPECT_EQ(m.dq, VELOCITY_STOP);
  }
}

TEST(PositionLimit, UnknownModelZeroesEveryLegTarget) {
  Safety none(static_cast<LeggedType>(-1));
  LowCmd cmd{};
  for (int s = 0; s < 12; ++s) cmd.motorCmd[s].q = (s % 2 ? 1.5f : -1.5f);
  cmd.motorCmd[5].q = kNaN;
  none.PositionLimit(cmd);
  for (int s = 0; s < 12; ++s) {
    if (s == 5) {
      EXPECT_TRUE(std::isnan(cmd.motorCmd[s].q));
    } else {
      EXPECT_EQ(cmd.motorCmd[s].q, 0.0f) << s;
    }
  }
}

// A NaN leg target used to pass PositionLimit as NaN and go to the robot. The guard now fails
// closed: the leg motors are off, the NaN slots are named once per call, the rest is clamped.
TEST(PositionLimit, NaNTargetSwitchesLegMotorsOff) {
  Safety vesko(LeggedType::Vesko);
  LowCmd cmd = CommandWithModes(10);
  for (int s = 0; s < 20; ++s) cmd.motorCmd[s].q = 5.0f;
  cmd.motorCmd[2].q = kNaN;
  cmd.motorCmd[11].q = -kNaN;
  cmd.motorCmd[13].q = kNaN;  // not a leg slot: the guard never looks at it
  const auto c = Capture([&] { vesko.PositionLimit(cmd); });
  EXPECT_EQ(c.out, "Error: Position Limit: NaN target in leg slot(s) 2 11; leg motors off.\n");
  for (int s = 0; s < 12; ++s) EXPECT_EQ(cmd.motorCmd[s].mode, 0) << s;
  for (int s = 12; s < 20; ++s) EXPECT_EQ(cmd.motorCmd[s].mode, 10) << s;
  EXPECT_TRUE(std::isnan(cmd.motorCmd[2].q));
  EXPECT_TRUE(std::isnan(cmd.motorCmd[11].q));
  EXPECT_EQ(cmd.motorCmd[0].q, 0.75f);  // the others are clamped as always
  EXPECT_EQ(cmd.motorCmd[1].q, 3.5f);
  EXPECT_EQ(cmd.motorCmd[5].q, -0.6f);
  EXPECT_TRUE(std::isnan(cmd.motorCmd[13].q));
  EXPECT_EQ(cmd.motorCmd[12].q, 5.0f);

  // Without a NaN nothing is printed and no mode changes; the free clamp keeps a NaN as it is.
  LowCmd fine = CommandWithModes(10);
  EXPECT_EQ(Capture([&] { vesko.PositionLimit(fine); }).out, "");
  for (const auto& m : fine.motorCmd) EXPECT_EQ(m.mode, 10);
  LowCmd all = CommandWithModes(10);
  for (int s = 0; s < 12; ++s) all.motorCmd[s].q = kNaN;
  EXPECT_EQ(Capture([&] { vesko.PositionLimit(all); }).out,
            "Error: Position Limit: NaN target in leg slot(s) 0 1 2 3 4 5 6 7 8 9 10 11; leg "
            "motors off.\n");
}

TEST(PowerProtect, HysteresisFromFreshObject) {
  Safety safety(LeggedType::Tamrin);
  const LowState over = StateWithPower(2000.0);
  EXPECT_EQ(Trips(safety, over, 6), (std::vector<int>{1, 1, 1, 1, 1, -1}));
  EXPECT_EQ(Trips(safety, over, 10), std::vector<int>(10, -1));
  EXPECT_EQ(safety.overPowerCount, 10);  // saturated
  const LowState calm = StateWithPower(10.0);
  EXPECT_EQ(Trips(safety, calm, 6), (std::vector<int>{-1, -1, -1, -1, 1, 1}));
  EXPECT_EQ(safety.overPowerCount, 4);
  EXPECT_EQ(Trips(safety, calm, 5), std::vector<int>(5, 1));
  EXPECT_EQ(safety.overPowerCount, 0);
}

TEST(PowerProtect, TripSwitchesOnlyLegMotorsOffAndPrintsOnce) {
  Safety safety(LeggedType::Vesko);
  safety.overPowerCount = 5;
  LowCmd cmd = CommandWithModes(10);
  cmd.motorCmd[0].q = 0.25f;
  LowState state = StateWithPower(5000.0);
  const auto c = Capture([&] { EXPECT_EQ(safety.PowerProtect(cmd, state, 10), -1); });
  EXPECT_EQ(c.out, "Error: Power Protection.\n");
  for (int s = 0; s < 12; ++s) EXPECT_EQ(cmd.motorCmd[s].mode, 0);
  for (int s = 12; s < 20; ++s) EXPECT_EQ(cmd.motorCmd[s].mode, 10);
  EXPECT_EQ(cmd.motorCmd[0].q, 0.25f);
}

TEST(PowerProtect, FactorScalesTheThreshold) {
  struct Case {
    int factor;
    double at_threshold;
  };
  for (const Case c : {Case{0, 100}, Case{-5, 100}, Case{1, 100}, Case{5, 500}, Case{20, 1000}}) {
    Safety safety(LeggedType::Vesko);
    safety.overPowerCount = 5;
    LowCmd cmd = CommandWithModes(10);
    LowState exact = StateWithPower(c.at_threshold);
    // Exactly at the threshold is not over: the counter falls.
    EXPECT_EQ(safety.PowerProtect(cmd, exact, c.factor), 1) << c.factor;
    EXPECT_EQ(safety.overPowerCount, 4) << c.factor;
    LowState above = StateWithPower(c.at_threshold + 0.5);
    safety.PowerProtect(cmd, above, c.factor);
    EXPECT_EQ(safety.overPowerCount, 5) << c.factor;
  }
}

TEST(PowerProtect, PowerSumsAbsoluteValuesOfLegJointsOnly) {
  Safety safety(LeggedType::Vesko);
  LowState s{};
  for (int j = 0; j < 12; ++j) {
    s.motorState[j].tauEst = (j % 2) ? -10.0f : 10.0f;
    s.motorState[j].dq = 8.0f;  // |+-80| x 12 = 960
  }
  for (int j = 12; j < 20; ++j) {
    s.motorState[j].tauEst = 1e6f;
    s.motorState[j].dq = 1e6f;
  }
  LowCmd cmd{};
  safety.PowerProtect(cmd, s, 10);
  EXPECT_EQ(safety.overPowerCount, 0);
  s.motorState[0].dq = 12.0f;  // 1000: still not over
  safety.PowerProtect(cmd, s, 10);
  EXPECT_EQ(safety.overPowerCount, 0);
  s.motorState[0].dq = 12.5f;
  safety.PowerProtect(cmd, s, 10);
  EXPECT_EQ(safety.overPowerCount, 1);
}

// A measurement that is not a number must not let a tripping guard pass.
TEST(PowerProtect, NaNPowerCountsAsOverload) {
  Safety safety(LeggedType::Vesko);
  LowState nan{};
  nan.motorState[7].tauEst = kNaN;
  nan.motorState[7].dq = 1.0f;
  EXPECT_EQ(Trips(safety, nan, 6), (std::vector<int>{1, 1, 1, 1, 1, -1}));
}

TEST(PositionProtect, LinesInOrderForSeveralJointsOut) {
  Safety safety(LeggedType::Vesko);
  LowCmd cmd = CommandWithModes(10);
  LowState state{};
  state.motorState[1].q = 0.5f;   // FR thigh in range
  state.motorState[2].q = -1.0f;  // calves in range
  state.motorState[5].q = -1.0f;
  state.motorState[8].q = -1.0f;
  state.motorState[11].q = -1.0f;
  state.motorState[9].q = 0.8f;     // RL hip out
  state.motorState[4].q = 3.5001f;  // FL thigh out; the product is taken in float
  state.motorState[11].q = -3.0f;   // RL calf out
  const auto c = Capture([&] { EXPECT_EQ(safety.PositionProtect(cmd, state, 0.0), -1); });
  EXPECT_EQ(c.out,
            "RL 0\n"
            "leg 1 thigh: 200.540960\n"
            "leg 3 calf: -171.887339\n"
            "Error: Position Protection.\n");
  for (int s = 0; s < 12; ++s) EXPECT_EQ(cmd.motorCmd[s].mode, 0);
  for (int s = 12; s < 20; ++s) EXPECT_EQ(cmd.motorCmd[s].mode, 10);
}

TEST(PositionProtect, MarginNarrowsOrWidensAndHipsMirror) {
  Safety zorvan(LeggedType::Zorvan);
  LowState state{};
  for (int leg = 0; leg < 4; ++leg) {
    state.motorState[3 * leg + 1].q = 1.0f;
    state.motorState[3 * leg + 2].q = -1.5f;
  }
  state.motorState[0].q = 0.85f;  // right hip range [-1.047, 0.873]
  state.motorState[3].q = 1.0f;   // left hip range [-0.873, 1.047]
  LowCmd cmd{};
  EXPECT_EQ(zorvan.PositionProtect(cmd, state, 0.0), 1);
  auto c = Capture([&] { EXPECT_EQ(zorvan.PositionProtect(cmd, state, 0.05), -1); });
  EXPECT_EQ(c.out, "FR 0\nFL 0\nError: Position Protection.\n");
  state.motorState[0].q = 0.9f;
  EXPECT_EQ(zorvan.PositionProtect(cmd, state, -0.05), 1);  // widened
}

TEST(PositionProtect, NaNPositionCountsAsOut) {
  Safety safety(LeggedType::Tamrin);
  LowState state{};
  for (int leg = 0; leg < 4; ++leg) {
    state.motorState[3 * leg + 1].q = 1.0f;
    state.motorState[3 * leg + 2].q = -1.5f;
  }
  state.motorState[3].q = kNaN;
  LowCmd cmd = CommandWithModes(10);
  const auto c = Capture([&] { EXPECT_EQ(safety.PositionProtect(cmd, state, 0.0), -1); });
  EXPECT_EQ(c.out, "FL 0\nError: Position Protection.\n");
  EXPECT_EQ(cmd.motorCmd[0].mode, 0);
}

TEST(PositionProtect, UnknownModelTripsUnlessAllZero) {
  Safety none(static_cast<LeggedType>(9));
  LowState state{};
  LowCmd cmd = CommandWithModes(10);
  EXPECT_EQ(none.PositionProtect(cmd, state, 0.0), 1);
  state.motorState[7].q = 0.001f;
  Capture([&] { EXPECT_EQ(none.PositionProtect(cmd, state, 0.0), -1); });
}
