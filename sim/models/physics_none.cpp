// Built without MuJoCo: no physics model ever loads (--engine physics is refused on the command
// line), and the loaders say why if asked all the same.
#include "models/physics_engine.h"

namespace torvane_sim {
namespace {
constexpr const char* kNoPhysics = "built without MuJoCo: no physics engine";
}  // namespace

std::unique_ptr<LowLevelModel> LoadPhysicsLowLevel(const std::string&, TORVANE::LeggedType, double,
                                                   std::string& error, const PhysicsConditions&) {
  error = kNoPhysics;
  return nullptr;
}

std::unique_ptr<HighLevelModel> LoadPhysicsHighLevel(const std::string&, TORVANE::LeggedType,
                                                     double, std::string& error,
                                                     const PhysicsConditions&) {
  error = kNoPhysics;
  return nullptr;
}

}  // namespace torvane_sim
