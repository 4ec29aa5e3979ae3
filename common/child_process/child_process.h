// A program run as a child of this process. Its standard output (and error) comes back through a
// pipe, read a line at a time with a deadline, or goes to a file. It is stopped with a signal
// and, if it has not ended within the grace given, killed; either way it is reaped, so a test or
// a tool that runs it never waits for ever and never leaves it behind.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <string>
#include <vector>

namespace torvane_child {

struct ChildOptions {
  std::vector<std::string> extra_env;  // "NAME=value" entries put before the inherited ones
  std::string output_path;             // empty: a pipe this object reads; else a file written
  bool merge_stderr = true;            // standard error goes where standard output goes
};

// How a child ended.
struct Ending {
  bool ended = false;   // it was reaped (false only if it never started)
  bool killed = false;  // it did not end within the grace and was killed
  int exit_code = -1;   // its exit status if it exited, else -1
  int signal = 0;       // the signal that ended it, 0 if it exited
};

class ChildProcess {
 public:
  // Starts argv[0] (a path, or a name looked up on PATH) with argv; running() tells whether it
  // started.
  explicit ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options = {});
  ~ChildProcess();  // Stop() with the default signal and grace
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // The next line of its output, without the newline. False if it printed no whole line within
  // `limit_ms` milliseconds, or its output ended (the rest, if any, stays in Remaining()).
  bool ReadLine(std::string& line, int limit_ms = 10000);

  // Reads lines until one contains `text` (true) or ReadLine fails (false); `line` gets it.
  bool ReadUntil(const std::string& text, std::string& line, int limit_ms = 10000);

  // Sends `signal`, collects what it still prints, and waits up to `grace_ms` milliseconds for
  // it to end; then SIGKILL. Always reaps it. A second call returns the first call's result.
  Ending Stop(int signal = SIGTERM, int grace_ms = 5000);

  // Waits up to `limit_ms` for it to end by itself, then stops it as Stop(SIGTERM, grace_ms).
  Ending Wait(int limit_ms, int grace_ms = 5000);

  // The lines it printed that ReadLine has not returned (after Stop: everything up to its end).
  std::vector<std::string> Remaining();

  // Its whole output file, for a child started with an output path.
  std::string OutputFile() const;

 private:
  bool Fill(int limit_ms);  // reads once from the pipe; false on timeout or end of output
  bool Reap(int limit_ms);  // waits for the child to end, reading its output meanwhile
  void Finish(int status);

  pid_t pid_ = -1;
  int fd_ = -1;
  bool eof_ = false;
  std::string pending_;
  std::string output_path_;
  Ending ending_;
};

}  // namespace torvane_child
