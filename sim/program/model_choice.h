// The robot model the emulator plays, chosen once at start from the engine and the level.
#pragma once

#include <memory>
#include <string>

#include "models/high_level_model.h"
#include "models/low_level_model.h"
#include "program/options.h"

namespace torvane_sim {

// Exactly one of the two is set: the model of the level the options ask for.
struct ChosenModel {
  std::unique_ptr<LowLevelModel> low;
  std::unique_ptr<HighLevelModel> high;
};

// The model of the options' engine and level, stepped in periods of `period` seconds. Returns
// false, with `error` set to one line, if the physics model cannot be found or loaded.
bool ChooseModel(const Options& options, double period, ChosenModel& out, std::string& error);

}  // namespace torvane_sim
