// One robot's UDP link on DDS. Three threads, none waiting on another:
//   - the cycle thread keeps the UDP period: takes the latest command (or the safe one when it
//     is older than the deadline), passes a low-level command through the safety guard, then
//     SetSend and Send. It touches no DDS call.
//   - the receive thread waits on the endpoint (Recv with a timeout), hands each valid state to
//     the cycle thread for the guard, and publishes it on DDS at once.
//   - the caller's thread (Run) takes command samples from DDS and hands the latest valid one
//     to the cycle thread.
// The hand-overs are lock-free latest-value buffers, so a slow DDS subscriber or publisher
// can delay a publication but never a cycle.
#pragma once

#include <atomic>
#include <csignal>
#include <cstdint>
#include <memory>
#include <string>

#include "dds_link.h"
#include "flight_log.h"
#include "joint_command_tally.h"
#include "latest.h"
#include "messages.h"
#include "options.h"
#include "torvane/safety.h"
#include "torvane/udp.h"

namespace torvane_bridge {

// Tally of a run, printed at the end.
struct Tally {
  std::atomic<uint64_t> cycles{0};        // commands sent
  std::atomic<uint64_t> missed{0};        // cycle slots passed without a send
  std::atomic<uint64_t> first_missed{0};  // cycles sent before the first miss
  std::atomic<uint64_t> max_late_us{0};   // largest lateness of a cycle's start
  std::atomic<uint64_t> safe_cycles{0};   // cycles that sent the safe command
  std::atomic<uint64_t> trips{0};         // cycles in which the guard switched the legs off
  std::atomic<uint64_t> states{0};        // valid state datagrams received
  std::atomic<uint64_t> bad_states{0};    // datagrams rejected by the endpoint
  std::atomic<uint64_t> published{0};     // state samples written (all topics)
  std::atomic<uint64_t> publish_errors{0};
  std::atomic<uint64_t> commands{0};  // command samples taken and used
  std::atomic<uint64_t> rejected{0};  // command samples refused
};

class Bridge {
 public:
  explicit Bridge(const Options& options);
  ~Bridge();
  Bridge(const Bridge&) = delete;
  Bridge& operator=(const Bridge&) = delete;

  // Opens the UDP endpoint and the DDS side. Returns false after printing one line saying why.
  bool Open();
  // Runs until `stop` is set or the duration has passed, then joins its threads and prints the
  // tally. Returns the exit status: 0.
  int Run(const volatile std::sig_atomic_t& stop);

  const Tally& tally() const { return tally_; }

 private:
  struct Command {
    int64_t arrival_ns = 0;  // CLOCK_MONOTONIC when the bridge took it
    TORVANE::HighCmd high{};
    TORVANE::LowCmd low{};
  };
  struct State {
    TORVANE::HighState high{};
    TORVANE::LowState low{};
  };

  void RaisePriority(int priority, const char* thread);
  void CycleLoop();
  void ReceiveLoop();
  void OnCommand(const void* sample);
  void PrintTally() const;

  Options options_;
  CommandLimits limits_;
  std::unique_ptr<TORVANE::UDP> udp_;
  TORVANE::Safety safety_;
  DdsLink dds_;
  TORVANE::HighCmd base_high_{}, safe_high_{};
  TORVANE::LowCmd base_low_{}, safe_low_{};
  Latest<Command> commands_;
  Latest<State> states_;
  std::atomic<bool> stop_{false};
  Tally tally_;
  FlightLog flight_log_;  // the cycle thread's ring; written on a lost link or a guard trip
  JointCommandTally joint_commands_;
  // The receive thread's messages.
  JointStateMessage joint_states_;
  ImuMessage imu_;
  OdometryMessage odom_;
};

}  // namespace torvane_bridge
