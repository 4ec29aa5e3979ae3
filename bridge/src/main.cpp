// torvane-bridge: one robot's UDP link on DDS, for ROS 2 nodes.
#include <csignal>
#include <cstdlib>

#include "bridge.h"
#include "options.h"

namespace {
volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) {
  g_stop = 1;
}
}  // namespace

int main(int argc, char** argv) {
  torvane_bridge::Options options;
  const int parsed =
      torvane_bridge::ParseOptions(argc, argv, std::getenv("ROS_DOMAIN_ID"), options);
  if (parsed == 1) return 0;
  if (parsed != 0) return 2;

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  torvane_bridge::Bridge bridge(options);
  if (!bridge.Open()) return 1;
  return bridge.Run(g_stop);
}
