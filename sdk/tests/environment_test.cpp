// InitEnvironment changes the whole process, so every case runs in a forked child; the failure
// paths drop the privileges first.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <string>

#include "torvane/environment.h"
#include "udp_test_util.h"

using namespace TORVANE;

namespace {

// The sanitizers replace mlockall with a stand-in that does nothing (their shadow memory could not
// be locked), so these cases only mean something in a plain build.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

enum class Privilege { kAsIs, kNoMemoryLock, kNoRealtime };

struct ChildResult {
  int result = 0;
  std::string out;
  bool fifo95 = false;
};

// Root keeps CAP_IPC_LOCK (so mlockall works) but loses CAP_SYS_NICE, which would bypass a zero
// RLIMIT_RTPRIO.
bool DropSysNice() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  data[0].effective &= ~(1u << CAP_SYS_NICE);
  data[0].permitted &= ~(1u << CAP_SYS_NICE);
  return syscall(SYS_capset, &header, data) == 0;
}

// Runs InitEnvironment in a child and reports its result and what it printed.
ChildResult RunInChild(Privilege privilege) {
  int pipe_fd[2];
  EXPECT_EQ(pipe(pipe_fd), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    close(pipe_fd[0]);
    dup2(pipe_fd[1], 1);
    if (privilege == Privilege::kNoMemoryLock) {
      const passwd* nobody = getpwnam("nobody");
      const uid_t uid = nobody ? nobody->pw_uid : 65534;
      rlimit none{0, 0};
      if (setrlimit(RLIMIT_MEMLOCK, &none) != 0 || setgid(uid) != 0 || setuid(uid) != 0) _exit(90);
    } else if (privilege == Privilege::kNoRealtime) {
      rlimit none{0, 0};
      if (setrlimit(RLIMIT_RTPRIO, &none) != 0 || !DropSysNice()) _exit(91);
    }
    const int r = InitEnvironment();
    sched_param p{};
    const bool fifo95 =
        sched_getscheduler(0) == SCHED_FIFO && sched_getparam(0, &p) == 0 && p.sched_priority == 95;
    _exit((r == 1 ? 10 : r == -1 ? 20 : 30) + (fifo95 ? 1 : 0));
  }
  close(pipe_fd[1]);
  // Bounded, so that a child that never ends fails the test instead of hanging it: its output
  // until it closes the pipe, then its end, then SIGKILL.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  const auto left_ms = [&] {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<int64_t>(0, left.count()));
  };
  ChildResult out;
  char buf[256];
  ssize_t n;
  pollfd readable{pipe_fd[0], POLLIN, 0};
  while (poll(&readable, 1, left_ms()) == 1 && (n = read(pipe_fd[0], buf, sizeof buf)) > 0) {
    out.out.append(buf, static_cast<size_t>(n));
  }
  close(pipe_fd[0]);
  int status = 0;
  bool ended = false;
  while (!ended && left_ms() > 0) {
    ended = waitpid(pid, &status, WNOHANG) == pid;
    if (!ended) poll(nullptr, 0, 10);
  }
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);  // SIGKILL cannot be caught
    status = -1;
  }
  const int code = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  out.result = code / 10 == 1 ? 1 : code / 10 == 2 ? -1 : code;
  out.fifo95 = code % 10 == 1;
  return out;
}

}  // namespace

TEST(InitEnvironment, WithoutMemoryLockPrivilege) {
  if (kSanitized) GTEST_SKIP() << "mlockall under a sanitizer";
  if (geteuid() != 0) GTEST_SKIP() << "needs root to drop privileges in the child";
  const ChildResult r = RunInChild(Privilege::kNoMemoryLock);
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.out, "Error: Lock memory failed.\n");  // scheduling never attempted
  EXPECT_FALSE(r.fifo95);
}

TEST(InitEnvironment, WithMemoryLockButNoRealtime) {
  if (kSanitized) GTEST_SKIP() << "mlockall under a sanitizer";
  if (geteuid() != 0) GTEST_SKIP() << "needs root to drop privileges in the child";
  const ChildResult r = RunInChild(Privilege::kNoRealtime);
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.out, "Error: Pthread set sched policy failed.\n");
}

TEST(InitEnvironment, SucceedsWithPrivileges) {
  if (kSanitized) GTEST_SKIP() << "mlockall under a sanitizer";
  const ChildResult r = RunInChild(Privilege::kAsIs);
  if (r.result == -1) GTEST_SKIP() << "this machine grants no real-time privileges: " << r.out;
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(r.fifo95);
}

TEST(VersionSDK, PrintsAndReturns) {
  const auto c = torvane_test::Capture([] {
    EXPECT_EQ(VersionSDK(), "3.8");
    EXPECT_EQ(VersionSDK(), "3.8");
  });
  EXPECT_EQ(c.out, "3.8\n3.8\n");
}
