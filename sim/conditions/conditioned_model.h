// A robot model seen through the link's conditions: commands reach it late, and its states
// leave it noisy and reach the client late. The model underneath runs on the true values.
#pragma once

#include <memory>

#include "conditions/conditions.h"
#include "models/high_level_model.h"
#include "models/low_level_model.h"

namespace torvane_sim {

// `model` wrapped in the delays and noise of `conditions`, stepped every `period_s`; `model`
// itself where none of them is in force.
std::unique_ptr<LowLevelModel> WithConditions(std::unique_ptr<LowLevelModel> model,
                                              const Conditions& conditions, double period_s,
                                              uint64_t seed);
std::unique_ptr<HighLevelModel> WithConditions(std::unique_ptr<HighLevelModel> model,
                                               const Conditions& conditions, double period_s,
                                               uint64_t seed);

}  // namespace torvane_sim
