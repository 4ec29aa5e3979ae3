// The live link check: commands that move nothing, sent at a fixed rate to the robot (or the
// emulator), and what came back, cycle by cycle.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

namespace torvane_linkcheck {

struct CheckOptions {
  bool high_level = true;
  std::string robot = "127.0.0.1";
  uint16_t port = 8082;
  uint16_t local_port = 0;  // 0: any free port
  double rate_hz = 500.0;   // [Hz] commands sent
  double seconds = 10.0;    // [s] measured, after the first state
  double wait_s = 1.5;      // [s] for the first state before the measurement starts
};

struct Measurement {
  bool contact = false;         // a valid state arrived within the wait
  uint64_t commands = 0;        // commands sent while measuring: one state expected for each
  uint64_t states = 0;          // valid states taken, repeats left out
  uint64_t repeats = 0;         // valid states whose number had been seen already
  bool numbered = false;        // the robot numbers its states (SN), so gaps are seen
  uint64_t numbering_gaps = 0;  // states missing between the numbers seen
  uint64_t crc_errors = 0;      // datagrams with a bad checksum
  uint64_t send_errors = 0;
  uint64_t overruns = 0;               // deadlines passed before the loop got to them
  double longest_gap_s = 0.0;          // [s] longest time without a valid state
  std::vector<double> rtt_s;           // [s] command sent to the next valid state, per state
  std::vector<double> period_error_s;  // [s] wake-up after the deadline, per cycle
};

// Runs the check; stops early (keeping what was measured) once `stop` is set.
Measurement Measure(const CheckOptions& options, const volatile std::sig_atomic_t& stop);

}  // namespace torvane_linkcheck
