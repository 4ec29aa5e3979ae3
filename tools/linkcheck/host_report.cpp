#include "host_report.h"

#include <pthread.h>
#include <sched.h>
#include <sys/utsname.h>

#include <cstdio>
#include <cstring>
#include <fstream>

namespace torvane_linkcheck {

namespace {

bool RealtimeKernel() {
  std::ifstream flag("/sys/kernel/realtime");
  int value = 0;
  if (flag >> value) return value == 1;
  utsname names{};
  return uname(&names) == 0 && std::strstr(names.version, "PREEMPT_RT") != nullptr;
}

bool MemoryLocked() {
  std::ifstream status("/proc/self/status");
  std::string word;
  while (status >> word) {
    if (word == "VmLck:") {
      long kib = 0;
      return static_cast<bool>(status >> kib) && kib > 0;
    }
  }
  return false;
}

const char* PolicyName(int policy) {
  switch (policy) {
    case SCHED_FIFO:
      return "SCHED_FIFO";
    case SCHED_RR:
      return "SCHED_RR";
    case SCHED_OTHER:
      return "SCHED_OTHER";
    case SCHED_BATCH:
      return "SCHED_BATCH";
    case SCHED_IDLE:
      return "SCHED_IDLE";
    default:
      return "unknown";
  }
}

}  // namespace

HostReport ReadHost() {
  HostReport host;
  host.realtime_kernel = RealtimeKernel();
  int policy = SCHED_OTHER;
  sched_param param{};
  if (pthread_getschedparam(pthread_self(), &policy, &param) == 0) {
    host.policy = PolicyName(policy);
    host.priority = param.sched_priority;
  } else {
    host.policy = "unknown";
  }
  host.memory_locked = MemoryLocked();
  return host;
}

}  // namespace torvane_linkcheck
