// High-level walk: a square of 1 m sides at 500 Hz, straight on the SDK.
//   torvane-sim --level high --port 8082 &
//   example_walk_square [robot-ip] [port]
#include <torvane/torvane.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

using namespace TORVANE;

int main(int argc, char** argv) {
  const char* robot = argc > 1 ? argv[1] : "127.0.0.1";
  const uint16_t port = static_cast<uint16_t>(argc > 2 ? std::atoi(argv[2]) : 8082);
  constexpr double kRate = 500, kSpeed = 0.5, kTurn = M_PI / 2;

  // A client of the high level: 129-byte commands out, 1087-byte states in.
  UDP udp(HIGH_LEVEL_FLAG, 8085, robot, port);
  HighCmd cmd{};
  HighState state{};
  udp.InitCmdData(cmd);

  std::map<int, int> outcomes;  // Recv result -> count
  auto next = std::chrono::steady_clock::now();
  const auto period = std::chrono::microseconds(static_cast<int>(1e6 / kRate));
  for (int side = 0; side < 4; ++side) {
    // Walk one side (mode 2, forward), turn a quarter, stand a moment (mode 1).
    struct Step {
      double seconds;
      uint8_t mode;
      float vx, yaw_rate;
    };
    for (const Step step :
         {Step{1.0 / kSpeed, 2, kSpeed, 0}, Step{1.0, 2, 0, kTurn}, Step{0.3, 1, 0, 0}}) {
      for (int i = 0; i < static_cast<int>(step.seconds * kRate); ++i) {
        cmd.mode = step.mode;
        cmd.velocity = {step.vx, 0.0f};
        cmd.yawSpeed = step.yaw_rate;
        udp.SetSend(cmd);  // stamps the checksum
        udp.Send();
        const int result = udp.Recv();
        ++outcomes[result];
        if (result == 0) udp.GetRecv(state);
        next += period;
        std::this_thread::sleep_until(next);
      }
    }
    std::printf("corner %d: x=%+.2f m  y=%+.2f m  heading=%+6.1f deg\n", side + 1,
                state.position[0], state.position[1], state.imu.rpy[2] * 180.0 / M_PI);
  }
  std::printf("receive outcomes:");
  for (const auto& [code, count] : outcomes) std::printf(" [%d] %d", code, count);
  std::printf("\nsent %llu, published %llu, checksum errors %llu, empty %llu\n",
              static_cast<unsigned long long>(udp.udpState.SendCount),
              static_cast<unsigned long long>(udp.udpState.RecvCount),
              static_cast<unsigned long long>(udp.udpState.RecvCRCError),
              static_cast<unsigned long long>(udp.udpState.RecvLoseError));
  return 0;
}
