// The physical conditions in the rigid-body model: the ground is written into the model text
// before it loads, motors and body are changed in the loaded model, pushes come at their times.
#pragma once

#include <array>
#include <string>

#include "conditions/conditions.h"
#include "conditions/random_stream.h"
#include "models/joint_ranges.h"

struct mjModel_;

namespace torvane_sim {

// The model text `xml` with its floor (the plane geom named "floor") replaced by a height field
// for steps and rough ground; unchanged for flat ground and a slope. False, with `error` set to
// one line, if the text has no such floor.
bool WriteTerrain(std::string& xml, const Terrain& terrain, std::string& error);

// The ground's shape in the loaded model: the slope's tilt, the height field's heights.
void ShapeTerrain(mjModel_* m, const Terrain& terrain, uint64_t seed);

// How far above flat ground the robot is laid down, to lie on the terrain and not in it [m].
double StartLift(const Terrain& terrain);

// The motors' armature and friction and the body's mass, centre of mass and ground friction.
void ChangeModel(mjModel_* m, int trunk, const std::array<int, 12>& dofs,
                 const PhysicsConditions& conditions);

// A motor's target as the motor built so carries it out: the gains multiplied.
inline MotorTarget AsBuilt(MotorTarget target, const MotorChange& motor) {
  target.kp = static_cast<float>(target.kp * motor.kp);
  target.kd = static_cast<float>(target.kd * motor.kd);
  return target;
}

// The share of the torque limit available at joint speed `dq`: falls linearly to 0 at the motor's
// no-load speed.
inline double TorqueShare(const MotorChange& motor, double dq) {
  if (!(motor.speed > 0)) return 1.0;
  const double share = 1.0 - (dq < 0 ? -dq : dq) / motor.speed;
  return share < 0 ? 0.0 : share;
}

// The pushes due, in time order: the given ones and the random ones.
class PushSchedule {
 public:
  PushSchedule(const Pushes& pushes, uint64_t seed);
  // The sum of the velocity changes due by time `t` [s] and not yet given; false if none.
  bool Due(double t, std::array<double, 3>& dv);

 private:
  Pushes pushes_;
  RandomStream random_;
  size_t next_ = 0;
  double next_random_ = 0;
};

}  // namespace torvane_sim
