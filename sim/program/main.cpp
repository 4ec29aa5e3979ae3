// torvane-sim: a robot-controller emulator for trying the SDK on one machine.
#include <csignal>

#include "capture/capture.h"
#include "capture/replay.h"
#include "program/emulator.h"
#include "program/options.h"

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

  if (!options.pcap_path.empty() && !torvane_sim::OpenCapture(options.pcap_path)) return 1;
  int status;
  if (!options.replay_path.empty()) {
    torvane_sim::Replay replay(options);
    status = replay.Load() ? replay.Run(g_stop) : 1;
  } else {
    torvane_sim::Emulator emulator(options);
    status = emulator.Run(g_stop);
  }
  return torvane_sim::CloseCapture() ? status : 1;
}
