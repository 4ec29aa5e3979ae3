// Noise and drifting bias on what the robot measures of itself, applied to a state record as it
// leaves the robot: the physics keeps the true values.
#pragma once

#include <array>

#include "conditions/conditions.h"
#include "conditions/random_stream.h"
#include "torvane/packing.h"
#include "torvane/records.h"

namespace torvane_sim {

class NoisySensors {
 public:
  // One sample every `period_s` seconds.
  NoisySensors(const SensorNoise& noise, double period_s, uint64_t seed);

  // Adds this sample's noise to the joints and the IMU of a state; the biases walk on a sample.
  void Apply(TORVANE::LowState_refine& state);
  void Apply(TORVANE::HighState& state);

 private:
  template <typename Motor>
  void Apply(TORVANE::IMU& imu, Motor* motors);
  float Sample(const NoiseChannel& channel, double& bias, float value);

  SensorNoise noise_;
  double root_period_;
  RandomStream random_;
  std::array<double, 12> q_bias_{}, dq_bias_{};
  std::array<double, 3> gyro_bias_{}, acc_bias_{}, rpy_bias_{};
};

}  // namespace torvane_sim
