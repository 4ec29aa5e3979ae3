#include "program/model_choice.h"

#include "conditions/conditioned_model.h"
#include "models/body_model.h"
#include "models/leg_model.h"
#include "models/physics_engine.h"
#include "program/model_path.h"

namespace torvane_sim {
namespace {

// The link's delays and the sensors' noise around the model.
bool Condition(const Options& options, double period, ChosenModel& out) {
  if (out.high)
    out.high = WithConditions(std::move(out.high), options.conditions, period, options.seed);
  if (out.low)
    out.low = WithConditions(std::move(out.low), options.conditions, period, options.seed);
  return true;
}

}  // namespace

bool ChooseModel(const Options& options, double period, ChosenModel& out, std::string& error) {
  out = ChosenModel{};
  if (options.engine == Engine::kSimple) {
    if (options.high_level) {
      out.high = std::make_unique<BodyModel>(period);
    } else {
      out.low = std::make_unique<LegModel>(options.model, period);
    }
    return Condition(options, period, out);
  }
  PhysicsConditions physics = options.conditions.physics;
  physics.seed = options.seed;
  const std::string path = options.mjcf.empty() ? FindModel("quadruped.xml") : options.mjcf;
  if (path.empty()) {
    error = "cannot find the physics model quadruped.xml";
    return false;
  }
  if (options.high_level) {
    out.high = LoadPhysicsHighLevel(path, options.model, period, error, physics);
  } else {
    out.low = LoadPhysicsLowLevel(path, options.model, period, error, physics);
  }
  return (out.high != nullptr || out.low != nullptr) && Condition(options, period, out);
}

}  // namespace torvane_sim
