#include "models/body_model.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace torvane_sim {
namespace {

constexpr double kNominalFootRaise = 0.08;
constexpr double kLag = 0.1;  // [s] first-order response of every followed quantity
constexpr uint8_t kWalkMode = 2;

double Follow(double current, double target, double dt) {
  return current + (target - current) * std::min(1.0, dt / kLag);
}

double Finite(float v) {
  return std::isfinite(v) ? v : 0.0;
}

}  // namespace

void BodyModel::Step() {
  const double dt = period_;
  const bool walking = cmd_.mode == kWalkMode;
  const double vx = walking ? std::clamp(Finite(cmd_.velocity[0]), -1.5, 1.5) : 0.0;
  const double vy = walking ? std::clamp(Finite(cmd_.velocity[1]), -1.0, 1.0) : 0.0;
  const double wz = walking ? std::clamp(Finite(cmd_.yawSpeed), -2.0, 2.0) : 0.0;
  vx_ = Follow(vx_, vx, dt);
  vy_ = Follow(vy_, vy, dt);
  wz_ = Follow(wz_, wz, dt);
  yaw_ = std::remainder(yaw_ + wz_ * dt, 2.0 * M_PI);
  x_ += (vx_ * std::cos(yaw_) - vy_ * std::sin(yaw_)) * dt;
  y_ += (vx_ * std::sin(yaw_) + vy_ * std::cos(yaw_)) * dt;
  height_ = Follow(height_, kNominalHeight + std::clamp(Finite(cmd_.bodyHeight), -0.15, 0.1), dt);
  foot_raise_ = Follow(
      foot_raise_, kNominalFootRaise + std::clamp(Finite(cmd_.footRaiseHeight), -0.06, 0.1), dt);
  roll_ = Follow(roll_, std::clamp(Finite(cmd_.euler[0]), -0.75, 0.75), dt);
  pitch_ = Follow(pitch_, std::clamp(Finite(cmd_.euler[1]), -0.75, 0.75), dt);
  yaw_offset_ = Follow(yaw_offset_, std::clamp(Finite(cmd_.euler[2]), -0.6, 0.6), dt);
  const double speed = std::hypot(vx_, vy_);
  charge_ = std::max(0.0, charge_ - dt * (1.0 / 60.0 + 0.02 * speed));
  time_s_ += dt;
}

void BodyModel::Fill(TORVANE::HighState& out) const {
  std::memset(&out, 0, sizeof out);
  out.head = TORVANE::HEAD;
  out.levelFlag = TORVANE::HIGH_LEVEL_FLAG;
  const double r = roll_, p = pitch_, y = yaw_ + yaw_offset_;
  const double cr = std::cos(r / 2), sr = std::sin(r / 2), cp = std::cos(p / 2),
               sp = std::sin(p / 2), cy = std::cos(y / 2), sy = std::sin(y / 2);
  out.imu.quaternion = {static_cast<float>(cr * cp * cy + sr * sp * sy),
                        static_cast<float>(sr * cp * cy - cr * sp * sy),
                        static_cast<float>(cr * sp * cy + sr * cp * sy),
                        static_cast<float>(cr * cp * sy - sr * sp * cy)};
  out.imu.gyroscope = {0.0f, 0.0f, static_cast<float>(wz_)};
  out.imu.accelerometer = {static_cast<float>(-9.81 * std::sin(p)),
                           static_cast<float>(9.81 * std::sin(r)), 9.81f};
  out.imu.rpy = {static_cast<float>(r), static_cast<float>(p), static_cast<float>(y)};
  out.imu.temperature = 35;
  // A standing pose for the twelve leg joints, swinging a little while walking.
  const double swing = std::min(1.0, std::hypot(vx_, vy_)) * 0.2 * std::sin(2 * M_PI * 2 * time_s_);
  for (int leg = 0; leg < 4; ++leg) {
    const double phase = (leg == 0 || leg == 3) ? swing : -swing;
    out.motorState[3 * leg].q = 0.0f;
    out.motorState[3 * leg + 1].q = static_cast<float>(0.67 + phase);
    out.motorState[3 * leg + 2].q = static_cast<float>(-1.3 - phase);
    for (int j = 0; j < 3; ++j) out.motorState[3 * leg + j].mode = 10;
    out.footForce[leg] = out.footForceEst[leg] = 30;
    out.footPosition2Body[leg] = {static_cast<float>(leg < 2 ? 0.19 : -0.19),
                                  static_cast<float>(leg % 2 ? 0.13 : -0.13),
                                  static_cast<float>(-height_)};
  }
  out.bms.SOC = static_cast<uint8_t>(std::lround(charge_));
  out.bms.current = -static_cast<int32_t>(1500 + 3000 * std::hypot(vx_, vy_));
  out.mode = cmd_.mode;
  out.gaitType = cmd_.gaitType;
  out.footRaiseHeight = static_cast<float>(foot_raise_);
  out.position = {static_cast<float>(x_), static_cast<float>(y_), static_cast<float>(height_)};
  out.bodyHeight = static_cast<float>(height_);
  out.velocity = {static_cast<float>(vx_), static_cast<float>(vy_), 0.0f};
  out.yawSpeed = static_cast<float>(wz_);
  out.rangeObstacle = {5.0f, 5.0f, 5.0f, 5.0f};
  out.wirelessRemote = cmd_.wirelessRemote;
}

MotionRow BodyModel::Motion() const {
  MotionRow row;
  row.t = time_s_;
  row.x = x_;
  row.y = y_;
  row.z = NAN;
  row.yaw = yaw_;
  row.q.fill(NAN);
  row.q_ref.fill(NAN);
  row.force.fill(NAN);
  return row;
}

}  // namespace torvane_sim
