// --replay: the robot's side of a capture, played back to a client at its recorded timing.
//
// The robot is the sender of the capture's state datagrams; everything it sent is played back
// byte for byte (bad checksums, cut or foreign datagrams included) to the first client whose
// command is of the capture's level, each at its recorded offset from the start of the
// session. The checksum covers the datagram alone, not its addresses, so a state stays valid
// for a client on another address or port.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "program/options.h"

namespace torvane_sim {

class Replay {
 public:
  explicit Replay(const Options& options) : options_(options) {}
  // Reads the capture and finds the robot's side. Returns false after printing why not.
  bool Load();
  // Waits for a client, plays the capture to it and returns the exit status (0, or 1 if the
  // port could not be opened).
  int Run(const volatile std::sig_atomic_t& stop);

 private:
  struct Item {
    int64_t offset_us;  // from the start of the recorded session
    std::vector<uint8_t> payload;
  };
  bool WaitForClient(int fd, const volatile std::sig_atomic_t& stop, double give_up);

  Options options_;
  bool high_ = false;
  std::string robot_;  // address:port of the recorded robot
  std::vector<Item> items_;
};

}  // namespace torvane_sim
