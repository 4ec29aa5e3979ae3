// --video: the run filmed offscreen by a camera following the trunk, one frame per 1/fps of
// simulated time. The emulator's cycle hands poses over; drawing and encoding run on the
// recorder's own thread. In lockstep every frame is drawn (the next command waits at most for
// the frame before it); in real time a frame that finds the drawing busy is dropped, and the
// frame drawn before it is shown in its place, so the video still lasts as long as the run.
#pragma once

#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "view/pose_mailbox.h"
#include "view/video_encoder.h"

namespace torvane_sim {

class PhysicsModel;

struct VideoSettings {
  std::string path;
  double fps = 30;
  int width = 640, height = 480;
};

class VideoRecorder {
 public:
  VideoRecorder() = default;
  ~VideoRecorder() { Finish(); }
  VideoRecorder(const VideoRecorder&) = delete;
  VideoRecorder& operator=(const VideoRecorder&) = delete;

  // Starts ffmpeg and the drawing thread for `robot`. False, with `error` set to one line, if
  // either cannot be started (no ffmpeg, no OpenGL context).
  bool Start(const PhysicsModel& robot, const VideoSettings& settings, bool lockstep,
             std::string& error);
  // Once a period, after the robot has stepped: hands the pose over when a frame is due.
  void Offer(const PhysicsModel& robot);
  // Draws what was handed over and finishes the file. Returns false if ffmpeg failed.
  bool Finish();

  uint64_t written() const { return written_; }  // frames drawn and encoded
  uint64_t dropped() const { return dropped_; }  // frames not drawn

 private:
  // The drawing thread: sets up its context, says so through `ready`, then draws and encodes
  // every pose handed over until the mailbox closes.
  void Film(const PhysicsModel& robot, std::promise<std::string>& ready);

  VideoSettings settings_;
  bool lockstep_ = false, failed_ = false;
  double next_frame_ = 0;  // simulated time of the next frame [s]
  bool first_ = true;
  std::unique_ptr<PoseMailbox> mailbox_;
  VideoEncoder encoder_;
  std::thread thread_;
  uint64_t written_ = 0, dropped_ = 0;
};

}  // namespace torvane_sim
