// Low-level stand-up with the safety guard on every cycle, at 500 Hz, straight on the SDK.
//   torvane-sim --level low --port 8083 &
//   example_stand_up [robot-ip] [port]
#include <torvane/torvane.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace TORVANE;

int main(int argc, char** argv) {
  const char* robot = argc > 1 ? argv[1] : "127.0.0.1";
  const uint16_t port = static_cast<uint16_t>(argc > 2 ? std::atoi(argv[2]) : 8083);
  constexpr double kRate = 500, kRise = 2.0, kHold = 1.0;
  constexpr std::array<float, 3> kStand = {0.0f, 0.67f, -1.3f};  // hip, thigh, calf [rad]

  UDP udp(LOW_LEVEL_FLAG, 8086, robot, port);
  Safety safety(LeggedType::Zorvan);
  LowCmd cmd{};
  LowState state{};
  udp.InitCmdData(cmd);  // mode 10 with stop values and zero gains: holds nothing yet

  std::array<float, 12> start{};
  bool have_start = false;
  int trips = 0;
  auto next = std::chrono::steady_clock::now();
  const auto period = std::chrono::microseconds(static_cast<int>(1e6 / kRate));
  const int cycles = static_cast<int>((kRise + kHold) * kRate);
  for (int i = 0; i < cycles; ++i) {
    udp.SetSend(cmd);  // packs into the wire form and stamps its checksum
    udp.Send();
    if (udp.Recv() == 0) {
      udp.GetRecv(state);
      if (!have_start) {
        for (int j = 0; j < 12; ++j) start[j] = state.motorState[j].q;
        have_start = true;
      }
    }
    if (have_start) {
      // Interpolate from where the legs lay to the stand pose, then hold it.
      const float a = static_cast<float>(std::min(1.0, i / kRate / kRise));
      for (int j = 0; j < 12; ++j) {
        MotorCmd& m = cmd.motorCmd[j];
        m.q = (1 - a) * start[j] + a * kStand[j % 3];
        m.dq = 0;
        m.Kp = 80;
        m.Kd = 2;
        m.tau = 0;
      }
      // The guard: clamp, then cut the leg motors on over-power or a joint out of range.
      safety.PositionLimit(cmd);
      if (safety.PowerProtect(cmd, state, 10) < 0 ||
          safety.PositionProtect(cmd, state, 0.087) < 0) {
        ++trips;
      }
    }
    next += period;
    std::this_thread::sleep_until(next);
  }
  double worst = 0;
  for (int j = 0; j < 12; ++j) {
    worst = std::max(worst, std::fabs(static_cast<double>(kStand[j % 3] - state.motorState[j].q)));
  }
  std::printf("largest joint error %.3f rad after %d cycles, safety trips %d\n", worst, cycles,
              trips);
  return trips == 0 ? 0 : 1;
}
