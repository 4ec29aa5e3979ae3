#include "torvane/environment.h"

#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include "console.h"

namespace TORVANE {

using detail::Line;

namespace {
constexpr size_t kStackPrefault = 16384;
constexpr int kPriority = 95;
}  // namespace

int InitEnvironment() {
  // Map these stack pages now, so that locking them does not fault later in the loop.
  unsigned char stack[kStackPrefault];
  std::memset(stack, 0, sizeof stack);
  asm volatile("" : : "r"(stack) : "memory");  // keeps the writes

  if (mlockall(MCL_CURRENT | MCL_FUTURE) == -1) {
    Line("Error: Lock memory failed.");
    return -1;
  }
  sched_param param{};
  param.sched_priority = kPriority;
  // On Linux the process id addresses the main thread, whichever thread calls.
  if (sched_setscheduler(getpid(), SCHED_FIFO, &param) == -1) {
    Line("Error: Pthread set sched policy failed.");
    return -1;
  }
  return 1;
}

std::string VersionSDK() {
  Line("3.8");
  return "3.8";
}

}  // namespace TORVANE
