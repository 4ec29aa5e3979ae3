#include "conditions/conditioned_model.h"

#include <array>

#include "conditions/delay_line.h"
#include "conditions/sensor_noise.h"

namespace torvane_sim {
namespace {

// Cycles count the model's steps; the state made before the first step is on hand at once.
template <typename Base, typename Cmd, typename State>
class Conditioned : public Base {
 public:
  Conditioned(std::unique_ptr<Base> inner, const Conditions& c, double period_s, uint64_t seed)
      : inner_(std::move(inner)),
        commands_(c.command_latency, period_s, seed, kCommandLatencyStream),
        states_(c.state_latency, period_s, seed, kStateLatencyStream),
        noise_(c.noise, period_s, seed) {
    State state;
    Measure(state);
    states_.Hold(state);
  }

  void Command(const Cmd& cmd) override { commands_.Put(cmd, cycle_); }
  void Step() override {
    if (commands_.Advance(cycle_)) inner_->Command(commands_.current());
    inner_->Step();
    ++cycle_;
    State state;
    Measure(state);
    states_.Put(state, cycle_);
    states_.Advance(cycle_);
  }
  void Fill(State& out) const override { out = states_.current(); }
  MotionRow Motion() const override { return inner_->Motion(); }
  // What a camera films is the true robot, not what its noisy sensors say.
  const PhysicsModel* physics() const override { return inner_->physics(); }

 private:
  // What the robot reports of itself now, with its sensors' noise.
  void Measure(State& state) {
    inner_->Fill(state);
    noise_.Apply(state);
  }

  std::unique_ptr<Base> inner_;
  DelayLine<Cmd> commands_;
  DelayLine<State> states_;
  NoisySensors noise_;
  uint64_t cycle_ = 0;
};

using ConditionedLow =
    Conditioned<LowLevelModel, std::array<MotorTarget, 12>, TORVANE::LowState_refine>;
using ConditionedHigh = Conditioned<HighLevelModel, TORVANE::HighCmd, TORVANE::HighState>;

}  // namespace

std::unique_ptr<LowLevelModel> WithConditions(std::unique_ptr<LowLevelModel> model,
                                              const Conditions& conditions, double period_s,
                                              uint64_t seed) {
  if (!model || !conditions.any_signal()) return model;
  return std::make_unique<ConditionedLow>(std::move(model), conditions, period_s, seed);
}

std::unique_ptr<HighLevelModel> WithConditions(std::unique_ptr<HighLevelModel> model,
                                               const Conditions& conditions, double period_s,
                                               uint64_t seed) {
  if (!model || !conditions.any_signal()) return model;
  return std::make_unique<ConditionedHigh>(std::move(model), conditions, period_s, seed);
}

}  // namespace torvane_sim
