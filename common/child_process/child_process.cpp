#include "child_process/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

extern char** environ;

namespace torvane_child {
namespace {

int64_t NowMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

int MsLeft(int64_t deadline_ms) {
  const int64_t left = deadline_ms - NowMs();
  return left > 0 ? static_cast<int>(left) : 0;
}

// A descriptor that becomes readable when the child ends, where the kernel offers one; without
// it the wait looks every few milliseconds.
int PidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  const long fd = syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) {
    fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    return static_cast<int>(fd);
  }
#endif
  (void)pid;
  return -1;
}

// Whether `name` names a program this process may run (a path, or a name found on PATH). Where
// the exec happens in the child out of sight (a user-mode emulator's spawn does), a spawn that
// cannot exec still gives a pid; asking first makes "cannot start" the same everywhere.
bool Runnable(const std::string& name) {
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (access(((dir.empty() ? "." : dir) + "/" + name).c_str(), X_OK) == 0) return true;
  }
  return false;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options)
    : output_path_(options.output_path) {
  if (argv.empty() || !Runnable(argv[0])) return;
  std::vector<std::string> args(argv);
  std::vector<char*> arg_ptrs;
  for (auto& a : args) arg_ptrs.push_back(a.data());
  arg_ptrs.push_back(nullptr);
  std::vector<std::string> env_text(options.extra_env);
  for (char** e = environ; *e != nullptr; ++e) env_text.emplace_back(*e);
  std::vector<char*> env_ptrs;
  for (auto& e : env_text) env_ptrs.push_back(e.data());
  env_ptrs.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int out[2] = {-1, -1};
  if (output_path_.empty()) {
    // Both ends close on exec; the child's copy on 1 (and 2) is made by dup2, which clears it.
    if (pipe2(out, O_CLOEXEC) != 0) {
      posix_spawn_file_actions_destroy(&actions);
      return;
    }
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, output_path_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  if (options.merge_stderr) posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  if (posix_spawnp(&pid, arg_ptrs[0], &actions, nullptr, arg_ptrs.data(), env_ptrs.data()) != 0) {
    pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  if (out[1] >= 0) close(out[1]);
  if (pid <= 0) {
    if (out[0] >= 0) close(out[0]);
    return;
  }
  pid_ = pid;
  fd_ = out[0];
  eof_ = fd_ < 0;
}

ChildProcess::~ChildProcess() {
  Stop();
  if (fd_ >= 0) close(fd_);
}

bool ChildProcess::Fill(int limit_ms) {
  if (eof_) return false;
  pollfd p{fd_, POLLIN, 0};
  const int ready = poll(&p, 1, limit_ms);
  if (ready < 0 && errno == EINTR) return true;  // the caller looks at its deadline again
  if (ready != 1) return false;
  char buf[4096];
  const ssize_t n = read(fd_, buf, sizeof buf);
  if (n < 0 && errno == EINTR) return true;
  if (n <= 0) {
    eof_ = true;
    return false;
  }
  pending_.append(buf, static_cast<size_t>(n));
  return true;
}

bool ChildProcess::ReadLine(std::string& line, int limit_ms) {
  const int64_t deadline = NowMs() + limit_ms;
  for (;;) {
    const size_t nl = pending_.find('\n');
    if (nl != std::string::npos) {
      line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      return true;
    }
    if (!Fill(MsLeft(deadline))) return false;
    if (MsLeft(deadline) == 0 && pending_.find('\n') == std::string::npos) return false;
  }
}

bool ChildProcess::ReadUntil(const std::string& text, std::string& line, int limit_ms) {
  const int64_t deadline = NowMs() + limit_ms;
  while (ReadLine(line, MsLeft(deadline))) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

void ChildProcess::Finish(int status) {
  pid_ = -1;
  ending_.ended = true;
  if (WIFEXITED(status)) {
    ending_.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    ending_.signal = WTERMSIG(status);
  }
}

bool ChildProcess::Reap(int limit_ms) {
  const int64_t deadline = NowMs() + limit_ms;
  const int pidfd = PidFd(pid_);
  bool reaped = false;
  for (;;) {
    int status = 0;
    const pid_t got = waitpid(pid_, &status, WNOHANG);
    if (got == pid_ || (got < 0 && errno == ECHILD)) {
      Finish(got == pid_ ? status : 0);
      reaped = true;
      break;
    }
    const int left = MsLeft(deadline);
    if (left == 0) break;
    // Wait for its end or its output (which keeps a full pipe from stalling it), whichever first.
    pollfd p[2] = {{pidfd, POLLIN, 0}, {eof_ ? -1 : fd_, POLLIN, 0}};
    const int tick = pidfd >= 0 ? left : (left < 10 ? left : 10);
    if (poll(p, 2, tick) > 0 && (p[1].revents & (POLLIN | POLLHUP)) != 0) Fill(0);
  }
  if (pidfd >= 0) close(pidfd);
  return reaped;
}

Ending ChildProcess::Stop(int signal, int grace_ms) {
  if (pid_ <= 0) return ending_;
  kill(pid_, signal);
  if (!Reap(grace_ms)) {
    kill(pid_, SIGKILL);
    ending_.killed = true;
    Reap(10000);  // SIGKILL cannot be caught; the bound only guards against a stuck kernel
  }
  // What it printed last; a grandchild that kept the pipe open cannot hold this up for long.
  const int64_t deadline = NowMs() + 1000;
  while (Fill(MsLeft(deadline))) {
  }
  return ending_;
}

Ending ChildProcess::Wait(int limit_ms, int grace_ms) {
  if (pid_ <= 0) return ending_;
  if (Reap(limit_ms)) {
    const int64_t deadline = NowMs() + 1000;
    while (Fill(MsLeft(deadline))) {
    }
    return ending_;
  }
  return Stop(SIGTERM, grace_ms);
}

std::vector<std::string> ChildProcess::Remaining() {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(pending_);
  while (std::getline(in, line)) lines.push_back(line);
  pending_.clear();
  return lines;
}

std::string ChildProcess::OutputFile() const {
  std::ifstream f(output_path_);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

}  // namespace torvane_child
