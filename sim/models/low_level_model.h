// The robot at the low level, whichever engine plays it: the twelve leg motors' targets in, one
// period at a time, and the state datagram that reports what the joints did.
#pragma once

#include <array>

#include "models/joint_ranges.h"
#include "models/motion_row.h"
#include "torvane/packing.h"

namespace torvane_sim {

class PhysicsModel;

class LowLevelModel {
 public:
  virtual ~LowLevelModel() = default;

  // Takes the leg motors' targets (slot order), decoded from the latest command.
  virtual void Command(const std::array<MotorTarget, 12>& targets) = 0;
  // Advances the robot by one period, the one the model was made with.
  virtual void Step() = 0;
  // The state datagram image (checksum not yet stamped).
  virtual void Fill(TORVANE::LowState_refine& out) const = 0;
  // Where the robot is now, for the motion log.
  virtual MotionRow Motion() const = 0;
  // The robot in rigid-body physics, for the video and the window; null for the plain models.
  virtual const PhysicsModel* physics() const { return nullptr; }
};

}  // namespace torvane_sim
