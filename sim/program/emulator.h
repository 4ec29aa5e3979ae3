// The emulated controller: a server endpoint of the SDK that learns its client from the first
// command, the robot model chosen at start, and the fault injection on what it sends back.
#pragma once

#include <csignal>
#include <memory>
#include <vector>

#include "program/faults.h"
#include "program/model_choice.h"
#include "program/motion_log.h"
#include "program/options.h"
#include "program/rejections.h"
#include "torvane/udp.h"
#include "view/live_window.h"
#include "view/video_recorder.h"

namespace torvane_sim {

class Emulator {
 public:
  explicit Emulator(const Options& options);
  // Serves until `stop` is set or the duration has passed; prints the tally. Returns the exit
  // status: 0, or 1 if the port, the physics model or the log could not be opened.
  int Run(const volatile std::sig_atomic_t& stop);

 private:
  bool Prepare();  // chooses the robot model and opens the log, as the options ask
  bool Listen();
  void TakeCommand();
  bool RefuseBadCommand();  // takes the next queued datagram off the socket if it is no command
  void Step();              // the robot model, one period on
  void Answer();
  void Show();  // hands the pose to the video and the window, if they are on
  void PrintTally() const;

  Options options_;
  double period_;
  std::unique_ptr<TORVANE::UDP> udp_;
  ChosenModel model_;  // of the options' level
  MotionLog log_;
  FaultInjector faults_;
  RejectionLog rejections_;
  VideoRecorder video_;
  LiveWindow window_;
  const PhysicsModel* robot_ = nullptr;  // the physics robot, when filmed or shown
  std::vector<uint8_t> image_;
  uint64_t commands_ = 0, rejected_ = 0, answers_ = 0, datagrams_ = 0;
  uint64_t command_digest_ = 0;  // FNV-1a of the last command taken, for --trace
};

}  // namespace torvane_sim
