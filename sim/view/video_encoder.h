// The video file, encoded by ffmpeg in a child process fed raw RGB frames on a pipe.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace torvane_sim {

class VideoEncoder {
 public:
  VideoEncoder() = default;
  ~VideoEncoder() { Finish(); }
  VideoEncoder(const VideoEncoder&) = delete;
  VideoEncoder& operator=(const VideoEncoder&) = delete;

  // Starts ffmpeg writing `path` (H.264) from frames of `width` x `height` at `fps`. False, with
  // `error` set to one line, if ffmpeg cannot be started.
  bool Start(const std::string& path, int width, int height, double fps, std::string& error);
  // Writes one frame (rows bottom first, as OpenGL reads them). False once ffmpeg has gone.
  bool Write(const uint8_t* rgb);
  // Ends the stream and waits for ffmpeg to finish the file: SIGTERM after 20 s, SIGKILL 3 s
  // later. True if it finished cleanly.
  bool Finish();

 private:
  pid_t pid_ = -1;
  int pipe_ = -1;
  size_t frame_bytes_ = 0;
};

}  // namespace torvane_sim
