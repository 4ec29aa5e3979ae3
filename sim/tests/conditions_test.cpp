// The emulator's conditions in-process, through the model interfaces: a latency of N periods
// shifts the state stream by N cycles and the commands by N, noise has the standard deviation
// asked for, a push changes the trunk's velocity by its size, a gain multiplier scales the torque
// the motor applies, and the same seed gives the same bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "conditions/conditioned_model.h"
#include "conditions/delay_line.h"
#include "models/leg_model.h"
#include "torvane/packing.h"
#if TORVANE_SIM_PHYSICS
#include "models/physics_engine.h"
#include "models/physics_model.h"
#endif

using namespace torvane_sim;

namespace {

constexpr double kPeriod = 0.002;  // [s] the emulator's default rate, 500 Hz

// Targets that swing every joint through a slow wave, different each cycle.
std::array<MotorTarget, 12> Wave(int cycle) {
  std::array<MotorTarget, 12> targets{};
  for (int j = 0; j < 12; ++j) {
    MotorTarget& t = targets[j];
    t.mode = 10;
    t.q = static_cast<float>(0.3 * std::sin(0.01 * cycle + j));
    t.kp = 20;
    t.kd = 0.5;
  }
  return targets;
}

std::vector<uint8_t> Bytes(const TORVANE::LowState_refine& s) {
  const auto* p = reinterpret_cast<const uint8_t*>(&s);
  return std::vector<uint8_t>(p, p + sizeof s);
}

// The states of a model driven by the wave for `cycles` cycles, one per cycle after its step.
std::vector<std::vector<uint8_t>> Drive(LowLevelModel& model, int cycles) {
  std::vector<std::vector<uint8_t>> states;
  for (int k = 0; k < cycles; ++k) {
    model.Command(Wave(k));
    model.Step();
    TORVANE::LowState_refine s;
    model.Fill(s);
    states.push_back(Bytes(s));
  }
  return states;
}

std::unique_ptr<LowLevelModel> Plain() {
  return std::make_unique<LegModel>(TORVANE::LeggedType::Zorvan, kPeriod);
}

std::unique_ptr<LowLevelModel> Conditioned(const Conditions& c, uint64_t seed = 1) {
  return WithConditions(Plain(), c, kPeriod, seed);
}

TEST(ConditionsLatency, StateLatencyOfNPeriodsShiftsTheStateStreamByNCycles) {
  for (const double ms : {2.0, 10.0, 50.0}) {
    const int n = static_cast<int>(std::lround(ms / 1000 / kPeriod));
    Conditions c;
    c.state_latency.mean_ms = ms;
    auto plain = Plain();
    TORVANE::LowState_refine first;
    plain->Fill(first);  // the state made before the first step
    const auto truth = Drive(*plain, 300);
    auto delayed = Conditioned(c);
    const auto seen = Drive(*delayed, 300);
    for (int k = 0; k < 300; ++k) {
      const std::vector<uint8_t> expected = k >= n ? truth[k - n] : Bytes(first);
      ASSERT_EQ(seen[k], expected) << ms << " ms, cycle " << k;
    }
  }
}

TEST(ConditionsLatency, CommandLatencyOfNPeriodsShiftsTheCommandsByNCycles) {
  Conditions c;
  c.command_latency.mean_ms = 8;  // 4 periods
  auto delayed = Conditioned(c);
  const auto seen = Drive(*delayed, 200);
  // The same robot given each command 4 cycles after it was sent, and none before the first.
  auto plain = Plain();
  for (int k = 0; k < 200; ++k) {
    if (k >= 4) plain->Command(Wave(k - 4));
    plain->Step();
    TORVANE::LowState_refine s;
    plain->Fill(s);
    ASSERT_EQ(seen[k], Bytes(s)) << "cycle " << k;
  }
}

TEST(ConditionsLatency, RoundsToTheNearestWholePeriodHalfUp) {
  EXPECT_EQ(PeriodsOf(Latency{2.9, 0}, kPeriod, 0), 1u);
  EXPECT_EQ(PeriodsOf(Latency{3.0, 0}, kPeriod, 0), 2u);  // 1.5 periods
  EXPECT_EQ(PeriodsOf(Latency{0.9, 0}, kPeriod, 0), 0u);
  EXPECT_EQ(PeriodsOf(Latency{10, 4}, kPeriod, -5), 0u);  // cut at three: 10 - 12 ms, not below 0
  EXPECT_EQ(PeriodsOf(Latency{10, 4}, kPeriod, 5), 11u);  // 10 + 12 ms
}

TEST(ConditionsLatency, JitterNeverShowsAnOlderStateAfterANewerOne) {
  Conditions c;
  c.state_latency = Latency{10, 6};
  auto delayed = Conditioned(c, 7);
  uint32_t last = 0;
  int repeats = 0;
  for (int k = 0; k < 2000; ++k) {
    delayed->Command(Wave(k));
    delayed->Step();
    TORVANE::LowState_refine s;
    delayed->Fill(s);
    ASSERT_GE(s.tick, last) << "cycle " << k;
    repeats += s.tick == last;
    last = s.tick;
    ASSERT_LE(k * 2 - static_cast<int>(s.tick), 28 + 2) << "older than the longest delay";
  }
  EXPECT_GT(repeats, 50);  // the jitter held some states back
}

TEST(ConditionsNoise, HasTheStandardDeviationAskedForOver10000Samples) {
  Conditions c;
  c.noise.q.std = 0.01;
  c.noise.gyro.std = 0.05;
  c.noise.acc.std = 0.2;
  c.noise.rpy.std = 0.003;
  auto plain = Plain();
  auto noisy = Conditioned(c, 3);
  double q[2] = {0, 0}, acc[2] = {0, 0};
  const int samples = 10000;
  for (int k = 0; k < samples; ++k) {
    plain->Command(Wave(k));
    noisy->Command(Wave(k));
    plain->Step();
    noisy->Step();
    TORVANE::LowState_refine truth, seen;
    plain->Fill(truth);
    noisy->Fill(seen);
    const double e = seen.motorState[5].q - truth.motorState[5].q;
    q[0] += e;
    q[1] += e * e;
    const double a = seen.imu.accelerometer[2] - truth.imu.accelerometer[2];
    acc[0] += a;
    acc[1] += a * a;
    // What carries no noise is the truth.
    ASSERT_EQ(seen.motorState[5].dq, truth.motorState[5].dq);
  }
  for (const auto& [sum, std] : {std::make_pair(q, 0.01), std::make_pair(acc, 0.2)}) {
    const double mean = sum[0] / samples;
    const double sd = std::sqrt(sum[1] / samples - mean * mean);
    EXPECT_NEAR(sd, std, 0.1 * std);
    EXPECT_NEAR(mean, 0.0, 0.05 * std);
  }
}

TEST(ConditionsNoise, DriftWalksTheBiasBySqrtOfTime) {
  // The bias after T seconds is normal with standard deviation DRIFT * sqrt(T): over the twelve
  // joints and 400 seeds, its spread after 4 s is twice the drift.
  Conditions c;
  c.noise.q.drift = 0.01;
  double sum2 = 0;
  int n = 0;
  for (uint64_t seed = 1; seed <= 400; ++seed) {
    auto plain = Plain();
    auto noisy = Conditioned(c, seed);
    for (int k = 0; k < 2000; ++k) {
      plain->Step();
      noisy->Step();
    }
    TORVANE::LowState_refine truth, seen;
    plain->Fill(truth);
    noisy->Fill(seen);
    for (int j = 0; j < 12; ++j) {
      const double e = seen.motorState[j].q - truth.motorState[j].q;
      sum2 += e * e;
      ++n;
    }
  }
  EXPECT_NEAR(std::sqrt(sum2 / n), 0.01 * 2.0, 0.1 * 0.02);
}

TEST(ConditionsSeed, SameSeedSameBytesOtherSeedOtherBytes) {
  Conditions c;
  c.state_latency = Latency{6, 3};
  c.command_latency = Latency{4, 2};
  c.noise.q = NoiseChannel{0.01, 0.001};
  c.noise.gyro = NoiseChannel{0.02, 0.002};
  auto a = Conditioned(c, 42), b = Conditioned(c, 42), other = Conditioned(c, 43);
  EXPECT_EQ(Drive(*a, 500), Drive(*b, 500));
  auto again = Conditioned(c, 42);
  EXPECT_NE(Drive(*again, 500), Drive(*other, 500));
}

TEST(ConditionsModel, NoConditionsLeaveTheModelItself) {
  auto plain = Plain();
  LowLevelModel* raw = plain.get();
  EXPECT_EQ(WithConditions(std::move(plain), Conditions{}, kPeriod, 1).get(), raw);
}

#if TORVANE_SIM_PHYSICS
const std::string kModel = std::string(TORVANE_SIM_MODEL_DIR) + "/quadruped.xml";

std::unique_ptr<PhysicsModel> Robot(const PhysicsConditions& c, double period = kPeriod) {
  std::string error;
  auto robot = PhysicsModel::Load(kModel, TORVANE::LeggedType::Zorvan, period, error, c);
  EXPECT_NE(robot, nullptr) << error;
  return robot;
}

TEST(ConditionsPhysics, APushChangesTheTrunksVelocityByItsSize) {
  // Up off the ground first, then sideways in the air, where nothing but the push acts across.
  PhysicsConditions c;
  c.pushes.at = {Push{0.1, 0.0, 0.0, 1.0}, Push{0.15, -0.3, 0.5, 0.0}};
  auto pushed = Robot(c, 0.001), still = Robot(PhysicsConditions{}, 0.001);
  for (const Push& push : c.pushes.at) {
    while (pushed->time() < push.t - 1e-9) {
      pushed->Step();
      still->Step();
    }
    const BodySample before = pushed->Body();
    pushed->Step();
    still->Step();
    const BodySample after = pushed->Body();
    // Within the period gravity takes 1 cm/s off the vertical change.
    EXPECT_NEAR(after.vx - before.vx, push.vx, 0.002) << push.t;
    EXPECT_NEAR(after.vy - before.vy, push.vy, 0.002) << push.t;
    EXPECT_NEAR(after.vz - before.vz, push.vz - 9.81 * 0.001, 0.005) << push.t;
  }
  EXPECT_LT(std::fabs(still->Body().vy), 0.01);
}

TEST(ConditionsPhysics, RandomPushesComeAtTheirIntervalsWithTheirSize) {
  PushSchedule schedule(Pushes{{}, 1.0, 0.4}, 5);
  std::vector<double> times;
  for (int k = 0; k < 10000; ++k) {
    std::array<double, 3> dv;
    if (schedule.Due(k * 0.001, dv)) {
      times.push_back(k * 0.001);
      EXPECT_NEAR(std::hypot(dv[0], dv[1]), 0.4, 1e-12);
      EXPECT_EQ(dv[2], 0.0);
    }
  }
  ASSERT_GE(times.size(), 6u);
  for (size_t i = 1; i < times.size(); ++i) {
    EXPECT_GE(times[i] - times[i - 1], 0.5 - 0.0015);
    EXPECT_LE(times[i] - times[i - 1], 1.5 + 0.0015);
  }
}

TEST(ConditionsPhysics, AGainMultiplierScalesTheAppliedTorque) {
  PhysicsConditions weak;
  for (MotorChange& m : weak.motors) m = MotorChange{0.8, 0.5};
  // One physics step per period, so the torque reported is the one computed from the same state.
  auto full = Robot(PhysicsConditions{}, 0.001), shortfall = Robot(weak, 0.001);
  std::array<MotorTarget, 12> targets{};
  for (int j = 0; j < 12; ++j) {
    targets[j] = MotorTarget{10, static_cast<float>(full->q(j) + 0.1), 0, 0, 20, 0};
  }
  for (auto* robot : {full.get(), shortfall.get()}) {
    robot->Command(targets);
    robot->Step();
  }
  TORVANE::LowState_refine a, b;
  full->Fill(a);
  shortfall->Fill(b);
  for (int j = 0; j < 12; ++j) {
    // The same state before the step: the torque is Kp times the same error, 1/256 N m steps.
    ASSERT_GT(a.motorState[j].tauEst, 256);  // over 1 N m
    EXPECT_NEAR(b.motorState[j].tauEst, 0.8 * a.motorState[j].tauEst, 1.0) << j;
  }
  // And the damping gain: a velocity target alone.
  for (int j = 0; j < 12; ++j) targets[j] = MotorTarget{10, 2146000000.0f, 8, 0, 0, 1};
  auto full2 = Robot(PhysicsConditions{}, 0.001), weak2 = Robot(weak, 0.001);
  for (auto* robot : {full2.get(), weak2.get()}) {
    robot->Command(targets);
    robot->Step();
  }
  full2->Fill(a);
  weak2->Fill(b);
  for (int j = 0; j < 12; ++j) {
    ASSERT_GT(a.motorState[j].tauEst, 256);
    EXPECT_NEAR(b.motorState[j].tauEst, 0.5 * a.motorState[j].tauEst, 1.0) << j;
  }
}

TEST(ConditionsPhysics, TheTorqueLimitFallsWithSpeed) {
  EXPECT_EQ(TorqueShare(MotorChange{}, 100), 1.0);
  MotorChange m;
  m.speed = 20;
  EXPECT_DOUBLE_EQ(TorqueShare(m, 5), 0.75);
  EXPECT_DOUBLE_EQ(TorqueShare(m, -15), 0.25);
  EXPECT_EQ(TorqueShare(m, 30), 0.0);
}

TEST(ConditionsPhysics, TerrainAndBodyLoadAndTheRobotLiesOnTheGround) {
  for (const Terrain& t :
       {Terrain{TerrainKind::kSlope, 10, 0}, Terrain{TerrainKind::kSteps, 0.05, 0.3},
        Terrain{TerrainKind::kRough, 0.02, 0}}) {
    PhysicsConditions c;
    c.terrain = t;
    c.body.trunk_mass = 7.5;
    c.body.ground_friction = 0.6;
    auto robot = Robot(c);
    ASSERT_NE(robot, nullptr);
    EXPECT_NEAR(robot->TotalMass(), Robot(PhysicsConditions{})->TotalMass() + 1.5, 1e-9);
    for (int k = 0; k < 250; ++k) robot->Step();
    // Lying still, not fallen through the ground.
    const BodySample b = robot->Body();
    EXPECT_GT(b.z, 0.0) << static_cast<int>(t.kind);
    EXPECT_LT(std::hypot(b.vx, b.vy), 0.05) << static_cast<int>(t.kind);
    if (t.kind == TerrainKind::kSlope) {
      // Regression: the engine took the ground plane in the world's own frame, never tilted.
      EXPECT_NEAR(b.pitch, -10 * M_PI / 180, 2 * M_PI / 180);
    }
  }
}

TEST(ConditionsPhysics, RoughGroundIsTheSameForTheSameSeed) {
  PhysicsConditions c;
  c.terrain = Terrain{TerrainKind::kRough, 0.02, 0};
  c.seed = 9;
  auto a = Robot(c), b = Robot(c);
  c.seed = 10;
  auto other = Robot(c);
  for (int k = 0; k < 100; ++k) {
    a->Step();
    b->Step();
    other->Step();
  }
  TORVANE::LowState_refine sa, sb, so;
  a->Fill(sa);
  b->Fill(sb);
  other->Fill(so);
  EXPECT_EQ(Bytes(sa), Bytes(sb));
  EXPECT_NE(Bytes(sa), Bytes(so));
}
#endif

}  // namespace
