#include "conditions/sensor_noise.h"

#include <cmath>

namespace torvane_sim {

NoisySensors::NoisySensors(const SensorNoise& noise, double period_s, uint64_t seed)
    : noise_(noise), root_period_(std::sqrt(period_s)), random_(seed, kNoiseStream) {}

float NoisySensors::Sample(const NoiseChannel& channel, double& bias, float value) {
  if (!channel.any()) return value;
  // Drawn in a fixed order whatever is on, so that one channel's noise does not change when
  // another is switched on.
  const double noise = random_.Normal(), step = random_.Normal();
  const double out = value + bias + channel.std * noise;
  bias += channel.drift * root_period_ * step;
  return static_cast<float>(out);
}

template <typename Motor>
void NoisySensors::Apply(TORVANE::IMU& imu, Motor* motors) {
  for (int j = 0; j < 12; ++j) {
    motors[j].q = Sample(noise_.q, q_bias_[j], motors[j].q);
    motors[j].dq = Sample(noise_.dq, dq_bias_[j], motors[j].dq);
  }
  for (int k = 0; k < 3; ++k) {
    imu.gyroscope[k] = Sample(noise_.gyro, gyro_bias_[k], imu.gyroscope[k]);
    imu.accelerometer[k] = Sample(noise_.acc, acc_bias_[k], imu.accelerometer[k]);
    imu.rpy[k] = Sample(noise_.rpy, rpy_bias_[k], imu.rpy[k]);
  }
  if (noise_.rpy.any()) {
    // The quaternion tells the same attitude as the angles (z-y-x order).
    const double cr = std::cos(0.5 * imu.rpy[0]), sr = std::sin(0.5 * imu.rpy[0]);
    const double cp = std::cos(0.5 * imu.rpy[1]), sp = std::sin(0.5 * imu.rpy[1]);
    const double cy = std::cos(0.5 * imu.rpy[2]), sy = std::sin(0.5 * imu.rpy[2]);
    imu.quaternion = {static_cast<float>(cr * cp * cy + sr * sp * sy),
                      static_cast<float>(sr * cp * cy - cr * sp * sy),
                      static_cast<float>(cr * sp * cy + sr * cp * sy),
                      static_cast<float>(cr * cp * sy - sr * sp * cy)};
  }
}

void NoisySensors::Apply(TORVANE::LowState_refine& state) {
  Apply(state.imu, state.motorState.data());
}

void NoisySensors::Apply(TORVANE::HighState& state) {
  Apply(state.imu, state.motorState.data());
}

}  // namespace torvane_sim
