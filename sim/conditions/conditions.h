// The conditions a controller meets on a real robot and not on a perfect one: late and noisy
// states, late commands, motors and a body that differ from the model, pushes and uneven ground.
// Every condition is off by default; each is drawn from its own stream of the emulator's seed.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace torvane_sim {

// A delay of `mean_ms`, each datagram's drawn around it with normal jitter of standard deviation
// `jitter_ms` (cut at three), rounded to the nearest whole period.
struct Latency {
  double mean_ms = 0, jitter_ms = 0;
  bool any() const { return mean_ms > 0 || jitter_ms > 0; }
};

// Gaussian noise of standard deviation `std` on every sample, plus a bias that walks from zero
// by `drift` per square root of a second (units of the reading).
struct NoiseChannel {
  double std = 0, drift = 0;
  bool any() const { return std > 0 || drift > 0; }
};

// Joint positions [rad] and velocities [rad/s], gyroscope [rad/s], accelerometer [m/s²],
// attitude [rad] (roll, pitch and yaw; the quaternion is made from the noisy angles).
struct SensorNoise {
  NoiseChannel q, dq, gyro, acc, rpy;
  bool any() const { return q.any() || dq.any() || gyro.any() || acc.any() || rpy.any(); }
};

// One motor as built, against the model: multipliers on the commanded gains, rotor inertia seen
// at the joint [kg m²] and dry friction [N m] (NaN: the model's own), and the speed [rad/s] at
// which its torque limit falls linearly to zero (0: no such limit).
struct MotorChange {
  double kp = 1, kd = 1;
  double armature = NAN, friction = NAN;
  double speed = 0;
  bool any() const {
    return kp != 1 || kd != 1 || !std::isnan(armature) || !std::isnan(friction) || speed > 0;
  }
};

// The trunk's mass [kg] (NaN: the model's), its centre of mass moved by `com` [m, trunk frame],
// the friction coefficient of the ground against the feet (NaN: the model's).
struct BodyChange {
  double trunk_mass = NAN;
  std::array<double, 3> com{};
  double ground_friction = NAN;
  bool any() const {
    return !std::isnan(trunk_mass) || com[0] != 0 || com[1] != 0 || com[2] != 0 ||
           !std::isnan(ground_friction);
  }
};

// A change of the trunk's velocity [m/s, world frame] at time `t` [s of the robot's time].
struct Push {
  double t = 0, vx = 0, vy = 0, vz = 0;
};

// Pushes at given times, and pushes of `size` [m/s] in a random horizontal direction at random
// intervals, uniformly between half and one and a half of `every_s`.
struct Pushes {
  std::vector<Push> at;
  double every_s = 0, size = 0;
  bool any() const { return !at.empty() || every_s > 0; }
};

// The ground: flat; a slope rising along +x by `a` degrees; steps `a` m high and `b` m deep
// rising along +x from 0.5 m ahead of the start; or a height field whose heights are drawn
// uniformly from 0 to `a` m on a grid of 5 cm.
enum class TerrainKind { kFlat, kSlope, kSteps, kRough };
struct Terrain {
  TerrainKind kind = TerrainKind::kFlat;
  double a = 0, b = 0;
};

// What the physics engine changes in the model and applies while it runs.
struct PhysicsConditions {
  std::array<MotorChange, 12> motors{};  // slot order
  BodyChange body;
  Pushes pushes;
  Terrain terrain;
  uint64_t seed = 1;
  bool any_motor() const {
    for (const MotorChange& m : motors) {
      if (m.any()) return true;
    }
    return false;
  }
  // The first option in force, for the simple engine's refusal; empty if none.
  std::string FirstGiven() const;
};

struct Conditions {
  Latency state_latency, command_latency;
  SensorNoise noise;
  PhysicsConditions physics;
  // Whether states or commands pass through the emulator's conditions at all.
  bool any_signal() const { return state_latency.any() || command_latency.any() || noise.any(); }
  // The conditions in force, in one line ("none" without any).
  std::string Summary() const;
};

}  // namespace torvane_sim
