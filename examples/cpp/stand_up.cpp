// Low-level stand-up with the safety guard on every cycle, at 500 Hz, straight on the SDK.
//   torvane-sim --level low --port 8083 &
//   example_stand_up --robot 127.0.0.1 --port 8083
// Exit status: 0 when every leg joint ends within 0.1 rad of the pose; 1 when nothing answered,
// the link was lost, the guard switched the motors off or a joint missed; 2 for a bad command
// line; 130 (143) after Ctrl-C (SIGTERM), which first sends a damping-only command.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "command_line/robot_models.h"
#include "example_link.h"

using namespace TORVANE;

namespace {

constexpr double kRate = 500, kRiseS = 2.0, kHoldS = 1.0;
constexpr std::array<float, 3> kStand = {0.0f, 0.67f, -1.3f};  // hip, thigh, calf [rad]
constexpr float kKp = 80, kKd = 2;  // [N m/rad], [N m s/rad] while standing up
constexpr float kDamping = 3;       // [N m s/rad] the last command when stopped, no stiffness
// [rad] a leg joint further off at the end fails the run. A PD hold under the body's weight
// sags by a few hundredths of a radian (the calves carry most: about 4 N m against kKp 80).
constexpr double kTolerance = 0.1;
constexpr int kPowerFactor = 10;   // PowerProtect: the full power limit
constexpr double kMargin = 0.087;  // [rad] PositionProtect: trip 5 degrees inside each range
const char* const kLegs[] = {"FR", "FL", "RR", "RL"};
const char* const kJoints[] = {"hip", "thigh", "calf"};

const char kUsage[] =
    "[--robot A] [--port P] [--local-port L] [--wait S] [--record-dir DIR] "
    "[--model zorvan|pellix|tamrin|vesko]";
const char kDescription[] =
    "Stands the robot up at the low level with the safety guard on every cycle.\n";

static_assert(torvane_cli::ModelsNumberedAs({LeggedType::Zorvan, LeggedType::Pellix,
                                             LeggedType::Tamrin, LeggedType::Vesko}),
              "the command line's model numbers are the SDK's LeggedType");

using LowLink = example::Link<LowCmd, LowState>;

enum class Outcome { kDone, kFailed, kInterrupted };

Outcome StandUp(LowLink& link, Safety& safety, LowCmd& cmd, LowState& state) {
  std::array<float, 12> start{};
  for (int j = 0; j < 12; ++j) start[j] = state.motorState[j].q;
  std::printf("%s: low-level link to %s up; standing up over %g s\n", example::g_program,
              link.Where().c_str(), kRiseS);
  std::fflush(stdout);
  const int cycles = static_cast<int>((kRiseS + kHoldS) * kRate);
  for (int i = 0; i < cycles; ++i) {
    if (example::g_interrupted != 0) return Outcome::kInterrupted;
    // Interpolate from where the legs lay to the stand pose, then hold it.
    const float a = static_cast<float>(std::min(1.0, i / (kRiseS * kRate)));
    for (int j = 0; j < 12; ++j) {
      MotorCmd& m = cmd.motorCmd[j];
      m.q = (1 - a) * start[j] + a * kStand[j % 3];
      m.dq = 0;
      m.Kp = kKp;
      m.Kd = kKd;
      m.tau = 0;
    }
    // The guard: clamp, then switch the leg motors off (mode 0) on over-power or a joint out of
    // range. This example stops at the first trip.
    safety.PositionLimit(cmd);
    if (safety.PowerProtect(cmd, state, kPowerFactor) < 0 ||
        safety.PositionProtect(cmd, state, kMargin) < 0) {
      link.Incident(
          "the safety guard switched the leg motors off at cycle %d (its own line above "
          "says why)",
          i);
      return Outcome::kFailed;
    }
    if (!link.Cycle(cmd, state)) return Outcome::kFailed;
  }
  return Outcome::kDone;
}

}  // namespace

int main(int argc, char** argv) {
  example::g_program = "example_stand_up";
  example::Options options;
  options.port = 8083;
  options.local_port = 8086;
  LeggedType model = LeggedType::Zorvan;
  const int parsed = example::ParseArgs(
      argc, argv, options, "low", kUsage, kDescription,
      {torvane_cli::Model("robot model, for the guard's joint ranges (default zorvan)", model)});
  if (parsed == 1) return 0;
  if (parsed != 0) return example::kUsage;
  if (!example::LocalPortFree(options.local_port)) return example::kFailed;
  example::CatchSignals();

  // A client of the low level: 614-byte packed commands out, 807-byte packed states in.
  LowLink link(false, options, kRate);
  Safety safety(model);
  LowCmd cmd{};
  LowState state{};
  link.udp().InitCmdData(cmd);  // every motor: mode 10, stop values, zero gains: holds nothing

  Outcome outcome = Outcome::kFailed;
  if (link.FirstState(cmd, state)) outcome = StandUp(link, safety, cmd, state);
  if (example::g_interrupted != 0) outcome = Outcome::kInterrupted;
  if (outcome != Outcome::kDone) {
    // Whatever ended the run, the last commands only damp the legs: no stiffness, no torque.
    link.udp().InitCmdData(cmd);
    for (int j = 0; j < 12; ++j) cmd.motorCmd[j].Kd = kDamping;
    link.SendFinal(cmd, state);
    if (outcome == Outcome::kInterrupted) {
      example::Say("interrupted; sent a damping-only command (no stiffness)");
      return example::EndBySignal();
    }
    // A lost link or a guard trip: the last seconds go to a flight record, named in its line.
    link.ReportIncident();
    return example::kFailed;
  }

  std::array<double, 12> errors{};
  for (int j = 0; j < 12; ++j) {
    errors[j] = std::fabs(static_cast<double>(kStand[j % 3] - state.motorState[j].q));
  }
  std::printf("stood up; final joint errors [rad]:\n");
  for (int leg = 0; leg < 4; ++leg) {
    std::printf("  %s: hip %.3f  thigh %.3f  calf %.3f\n", kLegs[leg], errors[3 * leg],
                errors[3 * leg + 1], errors[3 * leg + 2]);
  }
  const int worst =
      static_cast<int>(std::max_element(errors.begin(), errors.end()) - errors.begin());
  std::printf("largest error %.3f rad (tolerance %g rad)\n", errors[worst], kTolerance);
  link.PrintOutcomes();
  if (errors[worst] > kTolerance) {
    example::Say("%s %s ended %.3f rad from the pose; the tolerance is %g rad", kLegs[worst / 3],
                 kJoints[worst % 3], errors[worst], kTolerance);
    return example::kFailed;
  }
  return 0;
}
