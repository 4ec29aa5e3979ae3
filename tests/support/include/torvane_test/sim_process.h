// torvane-sim as a child process, for C++ tests: started on a port of its own choosing (--port
// 0, read back from the line that says where it listens), in lockstep with --trace so Answer()
// reads the emulator's account of the last command before the test calls Recv, and stopped
// within a bounded time (SIGINT, then SIGKILL after a grace), its closing tally returned.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "child_process/child_process.h"

namespace torvane_test {

class SimProcess {
 public:
  // `program` is the emulator's command (a launcher first in a cross build); `level` "low" or
  // "high"; `extra` more options; `port` 0 for a free one (a restarted emulator takes its old).
  SimProcess(const std::vector<std::string>& program, const std::string& level,
             const std::vector<std::string>& extra, uint16_t port = 0);
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // True once it listens; port() is where.
  bool running() const { return port_ != 0 && child_.running(); }
  uint16_t port() const { return port_; }

  // The next line it printed; false if it ended or printed nothing for 10 s.
  bool ReadLine(std::string& line) { return child_.ReadLine(line, 10000); }

  // What the emulator did with the last command ("ok", "drop", "crc", "header", "truncate",
  // "duplicate", or "reject"); empty if it said nothing. `digest` gets the FNV-1a 64 of the
  // datagram it built, `command` that of the command it answered.
  std::string Answer(uint64_t* digest = nullptr, uint64_t* command = nullptr);

  // What Recv returns for a datagram that had `kind` done to it, in drain mode.
  static int ExpectedResult(const std::string& kind);

  // Stops the emulator (SIGINT, SIGKILL 10 s later) and returns its closing tally lines.
  std::string Stop();

  // True if the last Stop found it ended by itself (not killed).
  bool ended_by_itself() const { return ended_by_itself_; }

 private:
  torvane_child::ChildProcess child_;
  uint16_t port_ = 0;
  bool ended_by_itself_ = false;
};

// The port in the line torvane-sim prints when it listens ("... on 127.0.0.1:PORT, ..." or
// "... , on 127.0.0.1:PORT"); 0 if the line holds none.
uint16_t ListeningPort(const std::string& line);

}  // namespace torvane_test
