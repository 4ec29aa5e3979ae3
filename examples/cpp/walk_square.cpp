// High-level walk: a square (1 m sides by default, turning left) at 500 Hz, straight on the SDK,
// closed on the position and heading the robot reports.
//   torvane-sim --level high --port 8082 &
//   example_walk_square --robot 127.0.0.1 --port 8082
// Exit status: 0 when every corner lies within 0.05 m and 3 degrees of where it belongs; 1 when
// nothing answered, the link was lost or a corner was missed; 2 for a bad command line; 130 (143)
// after Ctrl-C (SIGTERM), which first sends a standing command with zero velocity.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "example_link.h"

using namespace TORVANE;

namespace {

constexpr double kRate = 500;                  // cycles per second
constexpr double kSpeed = 0.5;                 // [m/s] most speed asked for
constexpr double kTurn = M_PI / 2;             // [rad/s] most yaw speed asked for
constexpr double kGain = 3.0, kYawGain = 3.0;  // [1/s] per metre / radian still to go
constexpr double kReached = 0.02;              // [m] close enough to turn
constexpr double kTurned = 1.0 * M_PI / 180;   // [rad] close enough to stand
constexpr double kTolerance = 0.05;            // [m] a corner further off fails the run
constexpr double kHeadingTolerance = 3.0;      // [deg]
constexpr double kSettleS = 0.3;               // [s] standing before a corner is measured
constexpr uint8_t kWalk = 2, kStand = 1;       // HighCmd.mode

const char kUsage[] =
    "[--robot A] [--port P] [--local-port L] [--wait S] [--record-dir DIR] [--side M]";
const char kDescription[] =
    "Walks a square at the high level, closed on the reported position and heading.\n";

using HighLink = example::Link<HighCmd, HighState>;

double Wrap(double a) {
  return std::remainder(a, 2 * M_PI);
}
double Clamp(double v, double limit) {
  return std::clamp(v, -limit, limit);
}
double Yaw(const HighState& s) {
  return s.imu.rpy[2];
}

struct Corner {
  double x, y, heading_deg, off_m, off_deg;
};

enum class Outcome { kDone, kFailed, kInterrupted };

Outcome Walk(HighLink& link, HighCmd& cmd, HighState& state, double side,
             std::array<Corner, 4>& corners) {
  const double x0 = state.position[0], y0 = state.position[1], yaw0 = Yaw(state);
  const double c = std::cos(yaw0), s = std::sin(yaw0);
  std::printf("%s: high-level link to %s up; walking a %.2f m square\n", example::g_program,
              link.Where().c_str(), side);
  std::fflush(stdout);
  const double local[4][2] = {{side, 0}, {side, side}, {0, side}, {0, 0}};
  const auto seconds = [](double t) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int>(t * 1000));
  };
  for (int k = 0; k < 4; ++k) {
    const double tx = x0 + c * local[k][0] - s * local[k][1];
    const double ty = y0 + s * local[k][0] + c * local[k][1];
    double heading = yaw0 + k * M_PI / 2;

    // 1. Walk to the corner: speed toward it in the body frame, heading held.
    const double walk_limit_s = 2 * side / kSpeed + 4.0;
    auto limit = seconds(walk_limit_s);
    for (;;) {
      const double dx = tx - state.position[0], dy = ty - state.position[1], yaw = Yaw(state);
      if (std::hypot(dx, dy) < kReached) break;
      if (example::g_interrupted != 0) return Outcome::kInterrupted;
      if (std::chrono::steady_clock::now() > limit) {
        example::Say(
            "corner %d not reached: still %.2f m away after %.0f s; is the robot held "
            "back?",
            k + 1, std::hypot(dx, dy), walk_limit_s);
        return Outcome::kFailed;
      }
      const double ex = std::cos(yaw) * dx + std::sin(yaw) * dy;
      const double ey = -std::sin(yaw) * dx + std::cos(yaw) * dy;
      cmd.mode = kWalk;
      cmd.velocity = {static_cast<float>(Clamp(kGain * ex, kSpeed)),
                      static_cast<float>(Clamp(kGain * ey, kSpeed))};
      cmd.yawSpeed = static_cast<float>(Clamp(kYawGain * Wrap(heading - yaw), kTurn));
      if (!link.Cycle(cmd, state)) return Outcome::kFailed;
    }

    // 2. Turn a quarter to the left, on the spot: a legged robot drifts as it turns, so the
    // corner is held as the heading is.
    heading += M_PI / 2;
    limit = seconds(4.0);
    while (std::fabs(Wrap(heading - Yaw(state))) > kTurned) {
      if (example::g_interrupted != 0) return Outcome::kInterrupted;
      if (std::chrono::steady_clock::now() > limit) {
        example::Say("corner %d: the turn did not finish within 4 s", k + 1);
        return Outcome::kFailed;
      }
      const double dx = tx - state.position[0], dy = ty - state.position[1], yaw = Yaw(state);
      const double ex = std::cos(yaw) * dx + std::sin(yaw) * dy;
      const double ey = -std::sin(yaw) * dx + std::cos(yaw) * dy;
      cmd.mode = kWalk;
      cmd.velocity = {static_cast<float>(Clamp(kGain * ex, kSpeed)),
                      static_cast<float>(Clamp(kGain * ey, kSpeed))};
      cmd.yawSpeed = static_cast<float>(Clamp(kYawGain * Wrap(heading - yaw), kTurn));
      if (!link.Cycle(cmd, state)) return Outcome::kFailed;
    }

    // 3. Stand a moment, then measure the corner in the start frame.
    cmd.mode = kStand;
    cmd.velocity = {0.0f, 0.0f};
    cmd.yawSpeed = 0.0f;
    for (int i = 0; i < static_cast<int>(kSettleS * kRate); ++i) {
      if (example::g_interrupted != 0) return Outcome::kInterrupted;
      if (!link.Cycle(cmd, state)) return Outcome::kFailed;
    }
    const double wx = state.position[0] - x0, wy = state.position[1] - y0;
    const double rx = c * wx + s * wy, ry = -s * wx + c * wy;
    corners[k] = {rx, ry, Wrap(Yaw(state) - yaw0) * 180 / M_PI,
                  std::hypot(rx - local[k][0], ry - local[k][1]),
                  Wrap(Yaw(state) - heading) * 180 / M_PI};
  }
  return Outcome::kDone;
}

}  // namespace

int main(int argc, char** argv) {
  example::g_program = "example_walk_square";
  example::Options options;
  options.port = 8082;
  options.local_port = 8085;
  double side = 1.0;
  const int parsed = example::ParseArgs(
      argc, argv, options, "high", kUsage, kDescription,
      {torvane_cli::Decimal("--side", "M", "side of the square in metres, 0.1 to 5 (default 1)",
                            torvane_cli::Between(0.1, 5, "m"), side)});
  if (parsed == 1) return 0;
  if (parsed != 0) return example::kUsage;
  if (!example::LocalPortFree(options.local_port)) return example::kFailed;
  example::CatchSignals();

  // A client of the high level: 129-byte commands out, 1087-byte states in.
  HighLink link(true, options, kRate);
  HighCmd cmd{};
  HighState state{};
  link.udp().InitCmdData(cmd);  // header and level flag; mode 0 and no motion asked for

  std::array<Corner, 4> corners{};
  Outcome outcome = Outcome::kFailed;
  if (link.FirstState(cmd, state)) outcome = Walk(link, cmd, state, side, corners);
  if (example::g_interrupted != 0) outcome = Outcome::kInterrupted;
  if (outcome != Outcome::kDone) {
    // Whatever ended the walk, the last commands ask the robot to stand still.
    cmd.mode = kStand;
    cmd.velocity = {0.0f, 0.0f};
    cmd.yawSpeed = 0.0f;
    link.SendFinal(cmd, state);
    if (outcome == Outcome::kInterrupted) {
      example::Say("interrupted; sent a standing command with zero velocity");
      return example::EndBySignal();
    }
    // A lost link or a guard trip: the last seconds go to a flight record, named in its line.
    link.ReportIncident();
    return example::kFailed;
  }

  std::printf("walked the square, corner by corner (start frame):\n");
  for (int k = 0; k < 4; ++k) {
    const Corner& q = corners[k];
    std::printf(
        "  corner %d: x=%+.2f m  y=%+.2f m  heading=%+6.1f deg  (off by %.3f m, %+.1f deg)\n",
        k + 1, q.x, q.y, q.heading_deg, q.off_m, q.off_deg);
  }
  link.PrintOutcomes();
  for (int k = 0; k < 4; ++k) {
    if (corners[k].off_m > kTolerance || std::fabs(corners[k].off_deg) > kHeadingTolerance) {
      example::Say("corner %d is %.3f m and %+.1f deg off; the tolerance is %g m and %g deg", k + 1,
                   corners[k].off_m, corners[k].off_deg, kTolerance, kHeadingTolerance);
      return example::kFailed;
    }
  }
  return 0;
}
