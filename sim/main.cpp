// torvane-sim: a robot-controller emulator for trying the SDK on one machine.
#include <csignal>

#include "emulator.h"
#include "options.h"

namespace {
volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) {
  g_stop = 1;
}
}  // namespace

int main(int argc, char** argv) {
  torvane_sim::Options options;
  const int parsed = torvane_sim::ParseOptions(argc, argv, options);
  if (parsed == 1) return 0;
  if (parsed != 0) return 2;

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  torvane_sim::Emulator emulator(options);
  return emulator.Run(g_stop);
}
