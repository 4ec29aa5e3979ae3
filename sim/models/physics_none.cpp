// Built without MuJoCo: no physics model ever loads (--engine physics is refused on the command
// line), so the emulator holds none and the calls below are never reached.
#include "models/physics_model.h"
#include "models/trot_controller.h"

namespace torvane_sim {

std::unique_ptr<PhysicsModel> PhysicsModel::Load(const std::string&, TORVANE::LeggedType, double,
                                                 std::string& error) {
  error = "built without MuJoCo: no physics engine";
  return nullptr;
}
PhysicsModel::~PhysicsModel() = default;
void PhysicsModel::Command(const TORVANE::LowCmd_refine&) {}
void PhysicsModel::Step() {}
void PhysicsModel::Fill(TORVANE::LowState_refine&) const {}
BodySample PhysicsModel::Body() const {
  return {};
}
double PhysicsModel::q(int) const {
  return 0;
}
double PhysicsModel::TargetQ(int) const {
  return 0;
}
double PhysicsModel::FootForce(int) const {
  return 0;
}

TrotController::TrotController(PhysicsModel& robot) : robot_(robot) {}
void TrotController::Step(double) {}
void TrotController::Fill(TORVANE::HighState&) const {}

}  // namespace torvane_sim
