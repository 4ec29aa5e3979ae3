// --view: a window on the display that follows the robot as it moves, drawn on its own thread
// from the newest pose. Closing the window ends the window only; the emulator serves on.
#pragma once

#include <atomic>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "view/pose_mailbox.h"

namespace torvane_sim {

class PhysicsModel;

class LiveWindow {
 public:
  LiveWindow() = default;
  ~LiveWindow() { Close(); }
  LiveWindow(const LiveWindow&) = delete;
  LiveWindow& operator=(const LiveWindow&) = delete;

  // Opens the window for `robot`. False, with `error` set to one line, if there is no display.
  bool Open(const PhysicsModel& robot, std::string& error);
  // Once a period, after the robot has stepped: the newest pose, about 60 times a second.
  void Offer(const PhysicsModel& robot);
  // Closes the window if it is still open.
  void Close();

 private:
  void Show(const PhysicsModel& robot, std::promise<std::string>& ready);

  std::unique_ptr<PoseMailbox> mailbox_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  double next_ = 0;
};

}  // namespace torvane_sim
