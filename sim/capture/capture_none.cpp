// Built without libpcap: --pcap and --replay say so and the emulator does not start.
#include <cstdio>
#include <string>

#include "capture/capture.h"
#include "capture/replay.h"

namespace torvane_sim {

bool OpenCapture(const std::string&) {
  std::fputs("torvane-sim: built without libpcap: --pcap is not available\n", stderr);
  return false;
}
void WatchSocket(int) {}
bool CloseCapture() {
  return true;
}

bool Replay::Load() {
  std::fputs("torvane-sim: built without libpcap: --replay is not available\n", stderr);
  return false;
}
int Replay::Run(const volatile std::sig_atomic_t&) {
  return 1;
}

}  // namespace torvane_sim
