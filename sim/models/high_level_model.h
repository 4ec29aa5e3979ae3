// The robot at the high level, whichever engine plays it: a body-motion command in, one period at
// a time, and the state datagram that reports what the body did.
#pragma once

#include "models/motion_row.h"
#include "torvane/records.h"

namespace torvane_sim {

class PhysicsModel;

class HighLevelModel {
 public:
  virtual ~HighLevelModel() = default;

  // Takes the latest command.
  virtual void Command(const TORVANE::HighCmd& cmd) = 0;
  // Advances the robot by one period, the one the model was made with.
  virtual void Step() = 0;
  // The state datagram image (checksum not yet stamped).
  virtual void Fill(TORVANE::HighState& out) const = 0;
  // Where the robot is now, for the motion log.
  virtual MotionRow Motion() const = 0;
  // The robot in rigid-body physics, for the video and the window; null for the plain models.
  virtual const PhysicsModel* physics() const { return nullptr; }
};

}  // namespace torvane_sim
