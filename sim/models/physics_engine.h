// The robot in rigid-body physics at either level, from an MJCF model file. Built without
// MuJoCo, both refuse with the reason.
#pragma once

#include <memory>
#include <string>

#include "conditions/conditions.h"
#include "models/high_level_model.h"
#include "models/low_level_model.h"
#include "torvane/safety.h"

namespace torvane_sim {

// The model at `path` with the joint ranges of `type`, stepped in periods of `period` seconds,
// lying on the floor, built and run under the physical `conditions`. Null, with `error` set to one
// line, if it cannot be loaded or lacks a part the emulator drives.
std::unique_ptr<LowLevelModel> LoadPhysicsLowLevel(const std::string& path,
                                                   TORVANE::LeggedType type, double period,
                                                   std::string& error,
                                                   const PhysicsConditions& conditions = {});

// The same robot with the built-in controller that stands it up and trots it. Also null if its
// legs cannot reach the floor from the height its trunk is written at.
std::unique_ptr<HighLevelModel> LoadPhysicsHighLevel(const std::string& path,
                                                     TORVANE::LeggedType type, double period,
                                                     std::string& error,
                                                     const PhysicsConditions& conditions = {});

}  // namespace torvane_sim
