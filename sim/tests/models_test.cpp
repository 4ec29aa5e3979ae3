// The robot models in physics, in-process: the high-level state reports the same readings as the
// low-level one, to the bit, and the built-in controller takes the legs and the standing height
// from the model it drives, so a model with other legs loaded with --mjcf still stands.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "models/body_model.h"
#include "models/leg_kinematics.h"
#include "models/physics_engine.h"
#include "models/physics_model.h"
#include "torvane/packing.h"

using namespace torvane_sim;

namespace {

constexpr double kPeriod = 0.002;  // [s] the emulator's default rate, 500 Hz
const std::string kShipped = std::string(TORVANE_SIM_MODEL_DIR) + "/quadruped.xml";

// quadruped.xml with each `from` replaced everywhere by its `to`, in a file of the test's own
// that is removed again with the object.
class ModelVariant {
 public:
  ModelVariant(const char* name, const std::vector<std::pair<std::string, std::string>>& edits)
      : path_(testing::TempDir() + "/torvane_models_" + name + "_" + std::to_string(getpid()) +
              ".xml") {
    std::ifstream in(kShipped);
    std::stringstream text;
    text << in.rdbuf();
    std::string xml = text.str();
    for (const auto& [from, to] : edits) {
      int replaced = 0;
      for (size_t at = xml.find(from); at != std::string::npos; at = xml.find(from, at)) {
        xml.replace(at, from.size(), to);
        at += to.size();
        ++replaced;
      }
      EXPECT_GT(replaced, 0) << "not in quadruped.xml: " << from;
    }
    std::ofstream(path_) << xml;
  }
  ~ModelVariant() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Targets that hold the stand pose, pushed a little by a feed-forward torque.
std::array<MotorTarget, 12> StandTargets() {
  std::array<MotorTarget, 12> targets{};
  const float pose[3] = {0.0f, 0.67f, -1.3f};
  for (int j = 0; j < 12; ++j) {
    targets[j].mode = 10;
    targets[j].q = pose[j % 3];
    targets[j].tau = 0.3f;
    targets[j].kp = 60;
    targets[j].kd = 1.5;
  }
  return targets;
}

}  // namespace

TEST(SimModels, ShippedModelHasTheGeometryItsControllerWasTunedFor) {
  std::string error;
  const auto robot = PhysicsModel::Load(kShipped, TORVANE::LeggedType::Zorvan, kPeriod, error);
  ASSERT_TRUE(robot) << error;
  const RobotGeometry& g = robot->geometry();
  for (int leg = 0; leg < 4; ++leg) {
    const LegGeometry& l = g.legs[leg];
    EXPECT_EQ(l.hip[0], leg < 2 ? 0.19 : -0.19) << "leg " << leg;
    EXPECT_EQ(l.hip[1], leg % 2 ? 0.12 : -0.12) << "leg " << leg;
    EXPECT_EQ(l.hip[2], 0.06) << "leg " << leg;
    EXPECT_EQ(l.thigh, 0.2) << "leg " << leg;
    EXPECT_EQ(l.calf, 0.2) << "leg " << leg;
    EXPECT_EQ(l.foot_radius, 0.02) << "leg " << leg;
  }
  // One standing height for the robot, whichever engine plays it.
  EXPECT_EQ(g.standing_height, BodyModel::kNominalHeight);
}

// The high-level state once came from the low-level datagram, packed and unpacked again; built
// from the physics directly it must still say what the low level says of the same instant.
TEST(SimModels, HighLevelStateReportsTheLowLevelReadingsToTheBit) {
  std::string error;
  const auto robot = PhysicsModel::Load(kShipped, TORVANE::LeggedType::Zorvan, kPeriod, error);
  ASSERT_TRUE(robot) << error;
  robot->Command(StandTargets());
  bool fractional_torque = false;
  for (int period = 1; period <= 400; ++period) {
    robot->Step();
    if (period % 50 != 0) continue;
    TORVANE::LowState_refine packed;
    robot->Fill(packed);
    TORVANE::LowState low;
    TORVANE::refineState(low, packed);
    TORVANE::HighState high;
    robot->Fill(high);
    EXPECT_EQ(std::memcmp(&high.imu, &low.imu, sizeof low.imu), 0) << "period " << period;
    EXPECT_EQ(std::memcmp(&high.motorState, &low.motorState, sizeof low.motorState), 0)
        << "period " << period;
    EXPECT_EQ(std::memcmp(&high.bms, &low.bms, sizeof low.bms), 0) << "period " << period;
    EXPECT_EQ(high.footForce, low.footForce) << "period " << period;
    EXPECT_EQ(high.footForceEst, low.footForceEst) << "period " << period;
    for (int j = 0; j < 12; ++j) {
      fractional_torque |= high.motorState[j].tauEst != std::trunc(high.motorState[j].tauEst);
    }
  }
  EXPECT_TRUE(fractional_torque) << "the motors never pushed: the comparison proves little";
}

// The controller's legs once had a thigh and a calf of one length, whatever model was loaded.
TEST(SimModels, LegAnglesPutTheFootWhereAskedForLegsOfAnyProportion) {
  for (const auto& [thigh, calf] : {std::pair{0.2, 0.2}, {0.2, 0.3}, {0.3, 0.2}, {0.24, 0.27}}) {
    LegGeometry leg;
    leg.thigh = thigh;
    leg.calf = calf;
    const double reach = thigh + calf;
    for (double x : {-0.4, -0.1, 0.0, 0.15}) {
      for (double y : {-0.1, 0.0, 0.05}) {
        for (double down : {0.55, 0.7, 0.9}) {
          const std::array<double, 3> foot = {x * reach, y * reach, -down * reach};
          if (std::hypot(foot[0], foot[1], foot[2]) > reach - 0.005) continue;
          const std::array<double, 3> q = LegAngles(leg, foot);
          const std::array<double, 3> at = FootPosition(leg, q);
          for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(at[k], foot[k], 1e-9)
                << "thigh " << thigh << ", calf " << calf << ", foot " << foot[0] << " " << foot[1]
                << " " << foot[2] << ", axis " << k;
          }
          EXPECT_LT(q[2], 0.0) << "the knee bends back";
        }
      }
    }
  }
}

// The controller once placed the feet for quadruped.xml's legs whatever model was loaded.
TEST(SimModels, ControllerStandsARobotWithOtherLegsAtItsOwnHeight) {
  // Longer legs, the calf longer than the thigh, hips further out, a taller stance.
  const ModelVariant model(
      "long_legs",
      {{"fromto=\"0 0 0 0 0 -0.2\" size=\"0.02\"", "fromto=\"0 0 0 0 0 -0.24\" size=\"0.02\""},
       {"_calf\" pos=\"0 0 -0.2\"", "_calf\" pos=\"0 0 -0.24\""},
       {"fromto=\"0 0 0 0 0 -0.2\" size=\"0.012\"", "fromto=\"0 0 0 0 0 -0.27\" size=\"0.012\""},
       {"pos=\"0 0 -0.2\" size=\"0.02\"", "pos=\"0 0 -0.27\" size=\"0.02\""},
       {"pos=\"0 0 -0.2\" size=\"0.025\"", "pos=\"0 0 -0.27\" size=\"0.025\""},
       {"pos=\"0.19 -0.12 0.06\"", "pos=\"0.22 -0.14 0.05\""},
       {"pos=\"0.19 0.12 0.06\"", "pos=\"0.22 0.14 0.05\""},
       {"pos=\"-0.19 -0.12 0.06\"", "pos=\"-0.22 -0.14 0.05\""},
       {"pos=\"-0.19 0.12 0.06\"", "pos=\"-0.22 0.14 0.05\""},
       {"name=\"standing_height\" data=\"0.27\"", "name=\"standing_height\" data=\"0.34\""}});
  std::string error;
  const auto robot =
      LoadPhysicsHighLevel(model.path(), TORVANE::LeggedType::Zorvan, kPeriod, error);
  ASSERT_TRUE(robot) << error;
  TORVANE::HighCmd cmd{};
  cmd.mode = 1;
  robot->Command(cmd);
  for (int i = 0; i < 1.6 / kPeriod; ++i) robot->Step();  // it rises in the first 1.5 s
  TORVANE::HighState state;
  robot->Fill(state);
  EXPECT_NEAR(state.position[2], 0.34, 0.02);
  EXPECT_NEAR(state.imu.rpy[0], 0.0, 0.02);
  EXPECT_NEAR(state.imu.rpy[1], 0.0, 0.02);
  double force = 0;
  for (int leg = 0; leg < 4; ++leg) {
    const TORVANE::Cartesian& p = state.footPosition2Body[leg];
    EXPECT_NEAR(p.x, leg < 2 ? 0.22 : -0.22, 0.03) << "foot " << leg;
    EXPECT_NEAR(p.y, leg % 2 ? 0.14 : -0.14, 0.03) << "foot " << leg;
    EXPECT_NEAR(p.z, -state.position[2], 0.03) << "foot " << leg;
    force += state.footForce[leg];
  }
  EXPECT_NEAR(force, 12.0 * 9.81, 0.1 * 12.0 * 9.81);
}

TEST(SimModels, ControllerRefusesAModelItCannotStandAndTheLowLevelTakesIt) {
  std::string error;
  {
    const ModelVariant model("no_height",
                             {{"<numeric name=\"standing_height\" data=\"0.27\"/>", ""}});
    EXPECT_FALSE(LoadPhysicsHighLevel(model.path(), TORVANE::LeggedType::Zorvan, kPeriod, error));
    EXPECT_EQ(error, "physics model lacks standing_height");
    error.clear();
    EXPECT_TRUE(LoadPhysicsLowLevel(model.path(), TORVANE::LeggedType::Zorvan, kPeriod, error))
        << error;
  }
  {
    const ModelVariant model("too_tall", {{"data=\"0.27\"", "data=\"0.5\""}});
    error.clear();
    EXPECT_FALSE(LoadPhysicsHighLevel(model.path(), TORVANE::LeggedType::Zorvan, kPeriod, error));
    EXPECT_EQ(error, "physics model: a trunk standing at 0.5 m is out of the FR leg's reach");
  }
}
