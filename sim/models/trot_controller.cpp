#include "models/trot_controller.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "models/leg_kinematics.h"
#include "models/physics_engine.h"

namespace torvane_sim {
namespace {

constexpr double kFootRaise = 0.07;   // [m]; HighCmd.footRaiseHeight is an offset from it
constexpr double kGaitPeriod = 0.32;  // [s] one full trot cycle; each pair swings half
constexpr double kStandUp = 1.5;      // [s] from lying to standing
constexpr double kAccel = 2.0;        // [m/s^2] how fast the gait speeds up
constexpr double kYawAccel = 4.0;     // [rad/s^2]
constexpr double kTurn = 1.0;         // [rad/s] how fast the commanded attitude is taken
constexpr double kRaibert = 0.05;     // [s] touchdown shift per m/s of velocity error
// Leg length change per trunk tilt [m / (m rad)]: three times the drop the tilt itself makes. A
// trunk left to hang a few degrees to one side lowers that side's swinging feet onto the ground
// before their touchdown, where they drag backwards and hold the robot in place.
constexpr double kLevel = 3.0;
constexpr double kTrim = 0.5;                // [1/s] integral gain of the velocity trims
constexpr double kYawTrim = 2.0;             // [1/s] and of the yaw rate's
constexpr double kVelocityGain = 1.0;        // step velocity added per m/s of lag
constexpr double kYawRateGain = 0.5;         // step yaw rate added per rad/s of lag
constexpr double kVelocitySmoothing = 0.08;  // [s] the trunk's velocity, over a quarter cycle
constexpr double kKp = 60, kKd = 1.5;        // joint gains while standing and walking
constexpr uint8_t kWalkMode = 2;

double Finite(float v) {
  return std::isfinite(v) ? v : 0.0;
}

double Toward(double current, double target, double step) {
  return current + std::clamp(target - current, -step, step);
}

// A vector of the level heading frame in the frame of the trunk tilted by roll and pitch.
std::array<double, 3> Untilt(double roll, double pitch, const std::array<double, 3>& v) {
  const double cr = std::cos(roll), sr = std::sin(roll), cp = std::cos(pitch), sp = std::sin(pitch);
  // (Ry(pitch) Rx(roll))^T v
  const double x = cp * v[0] - sp * v[2];
  const double z = sp * v[0] + cp * v[2];
  return {x, cr * v[1] + sr * z, -sr * v[1] + cr * z};
}

// A vector of the level frame in the frame of a trunk posed at roll, pitch and yaw.
std::array<double, 3> Posed(double roll, double pitch, double yaw, const std::array<double, 3>& v) {
  const double c = std::cos(yaw), s = std::sin(yaw);
  return Untilt(roll, pitch, {c * v[0] + s * v[1], -s * v[0] + c * v[1], v[2]});
}

// Joint torques that make the foot push on the ground with `force` (trunk frame): J^T f.
std::array<double, 3> PushTorques(const LegGeometry& leg, const std::array<double, 3>& q,
                                  const std::array<double, 3>& f) {
  std::array<double, 3> tau{};
  const std::array<double, 3> p = FootPosition(leg, q);
  for (int j = 0; j < 3; ++j) {
    std::array<double, 3> moved = q;
    moved[j] += 1e-5;
    const std::array<double, 3> pj = FootPosition(leg, moved);
    for (int k = 0; k < 3; ++k) tau[j] += (pj[k] - p[k]) / 1e-5 * f[k];
  }
  return tau;
}

}  // namespace

std::unique_ptr<HighLevelModel> LoadPhysicsHighLevel(const std::string& path,
                                                     TORVANE::LeggedType type, double period,
                                                     std::string& error,
                                                     const PhysicsConditions& conditions) {
  std::unique_ptr<PhysicsModel> robot = PhysicsModel::Load(path, type, period, error, conditions);
  if (!robot) return nullptr;
  const RobotGeometry& g = robot->geometry();
  if (std::isnan(g.standing_height)) {
    error = "physics model lacks standing_height";
    return nullptr;
  }
  // Standing, each foot must reach the floor.
  const char* names[] = {"FR", "FL", "RR", "RL"};
  for (int leg = 0; leg < 4; ++leg) {
    const LegGeometry& l = g.legs[leg];
    const double drop = g.standing_height + l.hip[2] - l.foot_radius;
    if (!(drop > 0 && drop < Reach(l))) {
      char line[160];
      std::snprintf(line, sizeof line,
                    "physics model: a trunk standing at %g m is out of the %s leg's reach",
                    g.standing_height, names[leg]);
      error = line;
      return nullptr;
    }
  }
  return std::make_unique<TrotController>(std::move(robot), period);
}

TrotController::TrotController(std::unique_ptr<PhysicsModel> robot, double period)
    : robot_(std::move(robot)),
      geometry_(robot_->geometry()),
      period_(period),
      height_(geometry_.standing_height) {
  for (int j = 0; j < 12; ++j) lying_[j] = last_[j] = robot_->q(j);
}

void TrotController::Step() {
  const double period = period_;
  const bool walk = cmd_.mode == kWalkMode && time_s_ >= kStandUp;
  const double vx = walk ? std::clamp(Finite(cmd_.velocity[0]), -0.6, 0.6) : 0.0;
  const double vy = walk ? std::clamp(Finite(cmd_.velocity[1]), -0.3, 0.3) : 0.0;
  const double wz = walk ? std::clamp(Finite(cmd_.yawSpeed), -2.0, 2.0) : 0.0;
  vx_ = Toward(vx_, vx, kAccel * period);
  vy_ = Toward(vy_, vy, kAccel * period);
  wz_ = Toward(wz_, wz, kYawAccel * period);
  height_ =
      Toward(height_, geometry_.standing_height + std::clamp(Finite(cmd_.bodyHeight), -0.08, 0.03),
             0.1 * period);
  roll_ = Toward(roll_, std::clamp(Finite(cmd_.euler[0]), -0.4, 0.4), kTurn * period);
  pitch_ = Toward(pitch_, std::clamp(Finite(cmd_.euler[1]), -0.4, 0.4), kTurn * period);
  yaw_ = Toward(yaw_, std::clamp(Finite(cmd_.euler[2]), -0.4, 0.4), kTurn * period);
  const double raise = kFootRaise + std::clamp(Finite(cmd_.footRaiseHeight), -0.04, 0.04);
  // The gait keeps stepping while walk mode is on, and finishes its cycle when it goes off.
  if (walk) walking_ = true;
  if (walking_) {
    const double before = phase_;
    phase_ = std::fmod(phase_ + period / kGaitPeriod, 1.0);
    const bool cycle_done = phase_ < before;
    if (!walk && cycle_done && std::fabs(vx_) + std::fabs(vy_) + std::fabs(wz_) < 1e-3) {
      walking_ = false;
      phase_ = 0;
    }
  }

  const BodySample body = robot_->Body();
  const double c = std::cos(body.yaw), s = std::sin(body.yaw);
  const double vx_body = c * body.vx + s * body.vy, vy_body = -s * body.vx + c * body.vy;
  const double stance_time = 0.5 * kGaitPeriod;
  // The legs' give lets the trunk lag the steps and coast on after them (at the end of a quick
  // turn it spins on at several times the rate asked for): the gait steps for more, or against,
  // in proportion to the lag. The trunk sways within each step, so its velocity is smoothed.
  const double smooth = period / (kVelocitySmoothing + period);
  vx_seen_ += smooth * (vx_body - vx_seen_);
  vy_seen_ += smooth * (vy_body - vy_seen_);
  wz_seen_ += smooth * (body.yaw_rate - wz_seen_);
  // Slipping feet and lagging joints make the gait cover less or more ground than it steps
  // for: a slow integral of the velocity error trims what it steps for. Told to stand, the gait
  // lets the trims go as it slows down, or they would carry it on after the command stopped.
  if (walk) {
    trim_x_ = std::clamp(trim_x_ + kTrim * period * (vx_ - vx_body), -0.3, 0.3);
    trim_y_ = std::clamp(trim_y_ + kTrim * period * (vy_ - vy_body), -0.3, 0.3);
    trim_w_ = std::clamp(trim_w_ + kYawTrim * period * (wz_ - body.yaw_rate), -0.5, 0.5);
  } else if (walking_) {
    trim_x_ = Toward(trim_x_, 0.0, kAccel * period);
    trim_y_ = Toward(trim_y_, 0.0, kAccel * period);
    trim_w_ = Toward(trim_w_, 0.0, kYawAccel * period);
  } else {
    trim_x_ = trim_y_ = trim_w_ = 0;
  }
  const double step_vx = vx_ + trim_x_ + kVelocityGain * (vx_ - vx_seen_);
  const double step_vy = vy_ + trim_y_ + kVelocityGain * (vy_ - vy_seen_);
  const double step_wz = wz_ + trim_w_ + kYawRateGain * (wz_ - wz_seen_);

  std::array<MotorTarget, 12> targets{};
  const double weight = robot_->TotalMass() * 9.81;
  int stance_legs = 0;
  std::array<bool, 4> stance{};
  for (int leg = 0; leg < 4; ++leg) {
    const double phase = std::fmod(phase_ + (leg == 0 || leg == 3 ? 0.0 : 0.5), 1.0);
    stance[leg] = !walking_ || phase < 0.5;
    stance_legs += stance[leg];
  }
  const double a = std::min(1.0, time_s_ / kStandUp);
  const double rise = a * a * (3 - 2 * a);
  for (int leg = 0; leg < 4; ++leg) {
    const LegGeometry& geometry = geometry_.legs[leg];
    const double hx = geometry.hip[0], hy = geometry.hip[1], hz = geometry.hip[2];
    // Half a stance's travel of the ground under this foot, trunk frame: the body's velocity
    // plus the yaw rate carrying the foot around the trunk's centre.
    const double step_x = 0.5 * stance_time * (step_vx - step_wz * hy);
    const double step_y = 0.5 * stance_time * (step_vy + step_wz * hx);
    double fx = 0, fy = 0, fz = -(height_ + hz - geometry.foot_radius);
    if (walking_) {
      // Diagonal pairs: FR with RL, FL with RR, half a cycle apart.
      const double phase = std::fmod(phase_ + (leg == 0 || leg == 3 ? 0.0 : 0.5), 1.0);
      const double land_x = step_x + kRaibert * (vx_body - vx_);
      const double land_y = step_y + kRaibert * (vy_body - vy_);
      if (phase < 0.5) {  // stance: the foot moves back under the body
        const double u = phase / 0.5;
        fx = land_x + (-step_x - land_x) * u;
        fy = land_y + (-step_y - land_y) * u;
      } else {  // swing: forward to the next touchdown, lifted
        const double u = (phase - 0.5) / 0.5;
        const double blend = 0.5 - 0.5 * std::cos(M_PI * u);
        fx = -step_x + (land_x + step_x) * blend;
        fy = -step_y + (land_y + step_y) * blend;
        fz += raise * std::sin(M_PI * u);
      }
    }
    // A trunk tilted off its commanded attitude gets its high side's legs shortened and its
    // low side's lengthened.
    fz += kLevel * ((body.roll - roll_) * hy - (body.pitch - pitch_) * hx);
    // The commanded attitude: the feet's places turned into the frame of the posed trunk.
    std::array<double, 3> foot = Posed(roll_, pitch_, yaw_, {hx + fx, hy + fy, hz + fz});
    foot[0] -= hx;
    foot[1] -= hy;
    foot[2] -= hz;
    const std::array<double, 3> q = LegAngles(geometry, foot);
    // Legs on the ground carry the weight: their push is fed forward, the gains only correct.
    std::array<double, 3> push{};
    if (stance[leg]) {
      push = PushTorques(geometry, q,
                         Untilt(body.roll, body.pitch, {0.0, 0.0, -rise * weight / stance_legs}));
    }
    for (int j = 0; j < 3; ++j) {
      MotorTarget& t = targets[3 * leg + j];
      const double target = (1 - rise) * lying_[3 * leg + j] + rise * q[j];
      t.mode = 10;
      t.q = static_cast<float>(target);
      t.dq = time_s_ > 0 ? static_cast<float>((target - last_[3 * leg + j]) / period) : 0.0f;
      t.tau = static_cast<float>(push[j]);
      t.kp = static_cast<float>(kKp);
      t.kd = static_cast<float>(kKd);
      last_[3 * leg + j] = target;
    }
  }
  robot_->Command(targets);
  robot_->Step();
  time_s_ += period;
}

void TrotController::Fill(TORVANE::HighState& out) const {
  robot_->Fill(out);
  out.head = TORVANE::HEAD;
  out.levelFlag = TORVANE::HIGH_LEVEL_FLAG;
  out.mode = cmd_.mode;
  out.gaitType = cmd_.gaitType;
  out.progress = static_cast<float>(std::min(1.0, time_s_ / kStandUp));
  out.footRaiseHeight = static_cast<float>(kFootRaise);
  out.wirelessRemote = cmd_.wirelessRemote;
}

}  // namespace torvane_sim
