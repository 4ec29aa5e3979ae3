// What the machine does for a control loop: a real-time kernel, the calling thread's scheduling,
// locked memory. Read from the kernel; nothing is changed.
#pragma once

#include <string>

namespace torvane_linkcheck {

struct HostReport {
  bool realtime_kernel = false;  // PREEMPT_RT (/sys/kernel/realtime, or the kernel's version)
  std::string policy;            // the calling thread's policy: "SCHED_FIFO", "SCHED_OTHER", ...
  int priority = 0;              // its static priority (0 outside the real-time policies)
  bool memory_locked = false;    // pages locked (VmLck above 0 in /proc/self/status)
};

HostReport ReadHost();

}  // namespace torvane_linkcheck
