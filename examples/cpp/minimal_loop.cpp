// The smallest high-level loop: stand still for two seconds at 500 Hz, then print the state.
//   torvane-sim --level high --port 8082 &
//   example_minimal_loop 8082              # PORT [ROBOT], default 8082 127.0.0.1
// Exit status: 0 when a state arrived, 1 when none did, 2 for a bad command line.
#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>

#include "torvane/torvane.h"

int main(int argc, char** argv) {
  if (argc > 3) {
    std::fputs("usage: minimal_loop [PORT [ROBOT]]\n", stderr);
    return 2;
  }
  const char* port_text = argc > 1 ? argv[1] : "8082";
  const char* robot = argc > 2 ? argv[2] : "127.0.0.1";
  char* end = nullptr;
  const long port = std::strtol(port_text, &end, 10);
  if (*port_text < '0' || *port_text > '9' || *end != '\0' || port < 1 || port > 65535) {
    std::fprintf(stderr, "minimal_loop: not a port (1..65535): %s\n", port_text);
    return 2;
  }
  in_addr address{};
  if (inet_pton(AF_INET, robot, &address) != 1) {
    std::fprintf(stderr, "minimal_loop: not an IPv4 address: %s\n", robot);
    return 2;
  }
  // High level, any local port, the robot's address and port.
  TORVANE::UDP udp(TORVANE::HIGH_LEVEL_FLAG, 0, robot, static_cast<uint16_t>(port));
  TORVANE::HighCmd cmd{};
  TORVANE::HighState state{};
  udp.InitCmdData(cmd);  // header and level flag; mode 0 and zero velocity: stand still
  int states = 0;
  TORVANE::PeriodicLoop loop(0.002);            // 500 Hz, to absolute deadlines: no drift
  for (int cycle = 0; cycle < 1000; ++cycle) {  // two seconds, longer than a hand-over
    udp.SetSend(cmd);
    udp.Send();
    if (udp.Recv() == 0) {  // 0: a valid state was published; anything else: nothing new
      udp.GetRecv(state);
      ++states;
    }
    loop.Wait();  // sleeps until this cycle's deadline
  }
  if (states == 0) {
    std::fprintf(stderr, "minimal_loop: no valid high-level state from %s:%ld\n", robot, port);
    return 1;
  }
  std::printf("minimal_loop: %d states; body at x %.3f m, y %.3f m, height %.3f m, yaw %.3f rad\n",
              states, state.position[0], state.position[1], state.bodyHeight, state.imu.rpy[2]);
  return 0;
}
