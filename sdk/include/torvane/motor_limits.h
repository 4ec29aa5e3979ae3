// What the twelve leg motors can give: torque by joint and top speed. The four models share
// their leg motors (torvane-sim plays every model with the same actuators, narrowing only the
// joint ranges), so one row serves them all. Slot = 3 * leg + joint; joints hip, thigh, calf.
#pragma once

#include <array>

namespace TORVANE {

// Largest torque each leg motor gives [N m], by joint: hip, thigh, calf.
constexpr std::array<float, 3> MOTOR_TORQUE_LIMIT = {23.7f, 23.7f, 35.5f};

// Fastest a leg motor turns its joint [rad/s], any joint.
constexpr float MOTOR_TOP_SPEED = 21.0f;

// The torque limit [N m] of leg slot 0..11.
constexpr float MotorTorqueLimit(int slot) {
  return MOTOR_TORQUE_LIMIT[static_cast<unsigned>(slot) % 3];
}

}  // namespace TORVANE
