// A program run as a child for a test: its output goes to a file, it is stopped with SIGINT and,
// if it has not ended 10 s later, killed, so a test never hangs on it.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace torvane_bridge_test {

class ChildProcess {
 public:
  ChildProcess(std::vector<std::string> args, const std::vector<std::string>& extra_env,
               const std::string& output_path)
      : output_(output_path) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_text(extra_env);
    for (char** e = environ; *e != nullptr; ++e) env_text.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~ChildProcess() { Stop(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool running() const { return pid_ > 0; }

  // Stops the program and returns its exit status (-1 if it was killed or never ran).
  int Stop() {
    if (pid_ <= 0) return status_;
    kill(pid_, SIGINT);
    int st = 0;
    for (int i = 0; i < 1000; ++i) {
      if (waitpid(pid_, &st, WNOHANG) == pid_) {
        pid_ = -1;
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        return status_;
      }
      timespec t{0, 10000000};
      nanosleep(&t, nullptr);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &st, 0);
    pid_ = -1;
    return status_;
  }

  std::string Output() const {
    std::ifstream f(output_);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  std::string output_;
};

}  // namespace torvane_bridge_test
