// The built-in trot (high level, physics) against the conditions a real robot meets: 0.3 m/s
// for 10 s after standing up, on flat ground, a 10 degree slope, a height field of 2 cm
// roughness, with 10 ms of state delay, and pushed sideways by 0.5 m/s at 5 s of walking.
// Prints a Markdown table: distance walked (horizontal), lowest trunk height above the plane of
// the ground while walking (on the height field above its base, 0 to 2 cm below the surface),
// falls, and after the push how long until the robot walked on steadily again. The delay is the
// link's: the built-in controller runs on the robot and reads its own sensors undelayed, so
// only the state the client sees is late.
//   trot_conditions [model.xml]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <string>

#include "conditions/conditioned_model.h"
#include "models/physics_engine.h"
#include "program/model_path.h"

using namespace torvane_sim;

namespace {

constexpr double kPeriod = 0.002;  // [s] the emulator's default rate
constexpr double kStandUp = 2.0;   // [s] standing up before the walk
constexpr double kWalk = 10.0;     // [s]
constexpr double kSpeed = 0.3;     // [m/s]
constexpr double kFallen = 0.15;   // [m] a trunk below this has fallen (it stands at 0.27)
constexpr double kSteady = 0.15;   // [m/s] sideways speed of a robot walking on steadily
constexpr double kPushAt = 5.0;    // [s] of walking

struct Outcome {
  double distance = 0, lowest = 1e9, recovered = NAN;
  int falls = 0;
};

Outcome Walk(const std::string& path, const Conditions& conditions, bool pushed) {
  Outcome out;
  std::string error;
  PhysicsConditions physics = conditions.physics;
  if (pushed) physics.pushes.at = {Push{kStandUp + kPushAt, 0.0, 0.5, 0.0}};
  auto robot = WithConditions(
      LoadPhysicsHighLevel(path, TORVANE::LeggedType::Zorvan, kPeriod, error, physics), conditions,
      kPeriod, 1);
  if (!robot) {
    std::fprintf(stderr, "trot_conditions: %s\n", error.c_str());
    return out;
  }
  TORVANE::HighCmd cmd{};
  cmd.mode = 1;  // stand
  const int stand = static_cast<int>(kStandUp / kPeriod), walk = static_cast<int>(kWalk / kPeriod);
  for (int k = 0; k < stand; ++k) {
    robot->Command(cmd);
    robot->Step();
  }
  const MotionRow start = robot->Motion();
  cmd.mode = 2;
  cmd.velocity = {static_cast<float>(kSpeed), 0.0f};
  bool down = false;
  std::deque<double> ys;  // the last 0.1 s of the trunk's sideways position
  double steady_since = NAN;
  for (int k = 0; k < walk; ++k) {
    robot->Command(cmd);
    robot->Step();
    const MotionRow m = robot->Motion();
    // Above the ground under it: a slope rises along x through the start.
    const double z = m.z - (conditions.physics.terrain.kind == TerrainKind::kSlope
                                ? m.x * std::tan(conditions.physics.terrain.a * M_PI / 180)
                                : 0.0);
    out.lowest = std::min(out.lowest, z);
    if (z < kFallen && !down) ++out.falls;
    down = z < kFallen;
    ys.push_back(m.y);
    if (ys.size() > 50) ys.pop_front();
    const double t = (k + 1) * kPeriod;
    if (pushed && t > kPushAt && std::isnan(out.recovered)) {
      // Steady: standing, and sideways by less than kSteady over the last 0.1 s, for 0.2 s.
      const bool steady =
          !down && ys.size() == 50 && std::fabs(ys.back() - ys.front()) < kSteady * 49 * kPeriod;
      if (!steady) {
        steady_since = NAN;
      } else if (std::isnan(steady_since)) {
        steady_since = t;
      } else if (t - steady_since >= 0.2) {
        out.recovered = steady_since - kPushAt;
      }
    }
  }
  const MotionRow end = robot->Motion();
  out.distance = std::hypot(end.x - start.x, end.y - start.y);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : FindModel("quadruped.xml");
  if (path.empty()) {
    std::fprintf(stderr, "trot_conditions: cannot find quadruped.xml\n");
    return 1;
  }
  struct Case {
    const char* name;
    Conditions conditions;
    bool pushed;
    const char* goal;
  };
  Conditions flat, slope, rough, delay;
  slope.physics.terrain = Terrain{TerrainKind::kSlope, 10, 0};
  rough.physics.terrain = Terrain{TerrainKind::kRough, 0.02, 0};
  delay.state_latency = Latency{10, 0};
  const Case cases[] = {
      {"flat ground", flat, false, "no fall"},
      {"10 deg slope (uphill)", slope, false, "no fall"},
      {"2 cm rough height field", rough, false, "no fall"},
      {"10 ms state delay", delay, false, "no fall"},
      {"0.5 m/s sideways push at 5 s", flat, true, "steady within 1 s"},
  };
  std::printf(
      "| Trot at %.1f m/s for %.0f s | distance [m] | lowest trunk [m] | falls | "
      "steady after push [s] | goal | met |\n|---|---|---|---|---|---|---|\n",
      kSpeed, kWalk);
  int missed = 0;
  for (const Case& c : cases) {
    const Outcome o = Walk(path, c.conditions, c.pushed);
    const bool met = o.falls == 0 && (!c.pushed || (!std::isnan(o.recovered) && o.recovered <= 1));
    missed += !met;
    char recovered[32] = "-";
    if (c.pushed) {
      std::snprintf(recovered, sizeof recovered, std::isnan(o.recovered) ? "never" : "%.2f",
                    o.recovered);
    }
    std::printf("| %s | %.2f | %.3f | %d | %s | %s | %s |\n", c.name, o.distance, o.lowest, o.falls,
                recovered, c.goal, met ? "yes" : "no");
  }
  return missed == 0 ? 0 : 3;
}
