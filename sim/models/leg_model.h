// Low-level emulation: twelve leg joints driven by the commanded law
//   tau = Kp * (q_cmd - q) + Kd * (dq_cmd - dq) + tau_ff
// while their motor mode is 10, limp (damped, sagging under the body's weight) otherwise.
#pragma once

#include <array>
#include <cstdint>

#include "models/joint_ranges.h"
#include "models/low_level_model.h"
#include "torvane/packing.h"
#include "torvane/safety.h"

namespace torvane_sim {

class LegModel : public LowLevelModel {
 public:
  // The joints of `model`'s ranges, lying folded, stepped in periods of `period` seconds.
  LegModel(TORVANE::LeggedType model, double period);

  void Command(const std::array<MotorTarget, 12>& targets) override { targets_ = targets; }
  void Step() override;
  void Fill(TORVANE::LowState_refine& out) const override;
  // The joints alone: the model knows no trunk, no targets' meaning and no feet.
  MotionRow Motion() const override;

 private:
  struct Joint {
    double q = 0, dq = 0, ddq = 0, tau = 0, temperature = 30;
    double lower = 0, upper = 0;  // hard stops: the model's joint range
    double rest = 0;              // where the joint lies with the body on the ground
  };
  std::array<Joint, 12> joints_{};
  std::array<MotorTarget, 12> targets_{};
  double period_;
  double time_s_ = 0;
  double charge_ = 100.0;  // state of charge [%]
};

}  // namespace torvane_sim
