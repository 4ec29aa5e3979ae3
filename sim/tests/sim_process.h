// torvane-sim as a child process in lockstep with --trace, for C++ tests: Answer() reads the
// emulator's account of the last command, so the test knows what was sent before it calls Recv.
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

// The emulator that runs torvane-sim in a cross build (its program and arguments, each followed
// by a comma); empty for a native one.
#ifndef TORVANE_SIM_LAUNCHER
#define TORVANE_SIM_LAUNCHER
#endif

namespace torvane_test {

class SimProcess {
 public:
  SimProcess(const std::string& level, uint16_t port, const std::vector<std::string>& extra) {
    std::vector<std::string> args = {TORVANE_SIM_LAUNCHER TORVANE_SIM_PATH};
    args.insert(args.end(), {"--level", level, "--port", std::to_string(port), "--lockstep",
                             "--trace", "--duration", "900"});
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    fd_ = out[0];
    std::string line;
    while (ReadLine(line) && line.find("level on") == std::string::npos) {
    }
  }
  ~SimProcess() { Stop(); }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool running() const { return pid_ > 0; }

  // The next line the emulator printed; false if it ended or printed nothing for 10 s.
  bool ReadLine(std::string& line) {
    for (;;) {
      const size_t nl = pending_.find('\n');
      if (nl != std::string::npos) {
        line = pending_.substr(0, nl);
        pending_.erase(0, nl + 1);
        return true;
      }
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 10000) != 1) return false;
      char buf[4096];
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n <= 0) return false;
      pending_.append(buf, static_cast<size_t>(n));
    }
  }

  // What the emulator did with the last command ("ok", "drop", "crc", "header", "truncate",
  // "duplicate", or "reject"); empty if it said nothing. `digest` gets the FNV-1a 64 of the
  // datagram it built, `command` that of the command it answered.
  std::string Answer(uint64_t* digest = nullptr, uint64_t* command = nullptr) {
    std::string line;
    while (ReadLine(line)) {
      if (line.rfind("answer ", 0) == 0) {
        char kind[16] = {0};
        unsigned long long n = 0, d = 0, c = 0;
        if (std::sscanf(line.c_str(), "answer %llu %15s %llx %llx", &n, kind, &d, &c) != 4) {
          return "";
        }
        if (digest != nullptr) *digest = d;
        if (command != nullptr) *command = c;
        return kind;
      }
      if (line.rfind("reject ", 0) == 0) return "reject";
    }
    return "";
  }

  // What Recv returns for a datagram that had `kind` done to it, in drain mode.
  static int ExpectedResult(const std::string& kind) {
    if (kind == "ok" || kind == "duplicate") return 0;
    if (kind == "crc" || kind == "truncate") return -3;
    return -1;  // drop: nothing queued; header: the header check
  }

  static uint64_t Digest(const uint8_t* p, size_t n) {
    uint64_t d = 1469598103934665603ull;
    for (size_t i = 0; i < n; ++i) d = (d ^ p[i]) * 1099511628211ull;
    return d;
  }

  // Stops the emulator and returns its closing tally lines.
  std::string Stop() {
    if (pid_ <= 0) return "";
    kill(pid_, SIGINT);
    std::string rest, line;
    while (ReadLine(line)) {
      if (line.rfind("torvane-sim:", 0) == 0) rest += line + "\n";
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    close(fd_);
    pid_ = -1;
    return rest;
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string pending_;
};

}  // namespace torvane_test
