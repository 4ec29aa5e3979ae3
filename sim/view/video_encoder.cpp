#include "view/video_encoder.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

extern char** environ;

namespace torvane_sim {
namespace {

// Waits up to `seconds` for `pid` to end; true once it has been reaped.
bool Reap(pid_t pid, double seconds, int& status) {
  const timespec tick{0, 10 * 1000 * 1000};
  for (double waited = 0; waited < seconds; waited += 0.01) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) return true;
    nanosleep(&tick, nullptr);
  }
  return false;
}

}  // namespace

bool VideoEncoder::Start(const std::string& path, int width, int height, double fps,
                         std::string& error) {
  char size[32], rate[32];
  std::snprintf(size, sizeof size, "%dx%d", width, height);
  std::snprintf(rate, sizeof rate, "%g", fps);
  std::vector<std::string> args = {"ffmpeg",  "-hide_banner", "-loglevel", "error",    "-nostdin",
                                   "-y",      "-f",           "rawvideo",  "-pix_fmt", "rgb24",
                                   "-s",      size,           "-r",        rate,       "-i",
                                   "pipe:0",  "-vf",          "vflip",     "-c:v",     "libx264",
                                   "-preset", "veryfast",     "-pix_fmt",  "yuv420p",  path};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    error = std::string("cannot make a pipe for ffmpeg: ") + std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
  // Its own process group: a Ctrl-C at the terminal stops the emulator, which then ends the
  // stream, rather than cutting the file short.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  const int spawned = posix_spawnp(&pid_, "ffmpeg", &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[0]);
  if (spawned != 0) {
    close(fds[1]);
    pid_ = -1;
    error = spawned == ENOENT ? "--video needs ffmpeg, which is not installed"
                              : std::string("cannot start ffmpeg: ") + std::strerror(spawned);
    return false;
  }
  pipe_ = fds[1];
  frame_bytes_ = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
  // A write to a pipe whose reader died must fail, not end the emulator.
  signal(SIGPIPE, SIG_IGN);
  return true;
}

bool VideoEncoder::Write(const uint8_t* rgb) {
  if (pipe_ < 0) return false;
  size_t done = 0;
  while (done < frame_bytes_) {
    const ssize_t n = write(pipe_, rgb + done, frame_bytes_ - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(pipe_);
      pipe_ = -1;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool VideoEncoder::Finish() {
  if (pipe_ >= 0) {
    close(pipe_);
    pipe_ = -1;
  }
  if (pid_ < 0) return false;
  int status = 0;
  bool reaped = Reap(pid_, 20.0, status);
  if (!reaped) {
    kill(pid_, SIGTERM);
    reaped = Reap(pid_, 3.0, status);
  }
  if (!reaped) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  pid_ = -1;
  return reaped && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace torvane_sim
