#include "program/model_choice.h"

#include "models/body_model.h"
#include "models/leg_model.h"
#include "models/physics_engine.h"
#include "program/model_path.h"

namespace torvane_sim {

bool ChooseModel(const Options& options, double period, ChosenModel& out, std::string& error) {
  out = ChosenModel{};
  if (options.engine == Engine::kSimple) {
    if (options.high_level) {
      out.high = std::make_unique<BodyModel>(period);
    } else {
      out.low = std::make_unique<LegModel>(options.model, period);
    }
    return true;
  }
  const std::string path = options.mjcf.empty() ? FindModel("quadruped.xml") : options.mjcf;
  if (path.empty()) {
    error = "cannot find the physics model quadruped.xml";
    return false;
  }
  if (options.high_level) {
    out.high = LoadPhysicsHighLevel(path, options.model, period, error);
  } else {
    out.low = LoadPhysicsLowLevel(path, options.model, period, error);
  }
  return out.high != nullptr || out.low != nullptr;
}

}  // namespace torvane_sim
