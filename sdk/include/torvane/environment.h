// Process set-up for a real-time control loop, and the SDK's version.
#pragma once

#include <string>

namespace TORVANE {

// Pre-faults 16 KiB of stack, locks all current and future pages (mlockall) and puts the
// process's main thread under SCHED_FIFO at priority 95. Returns 1, or -1 after printing
// "Error: Lock memory failed." or "Error: Pthread set sched policy failed."; nothing is undone.
int InitEnvironment();

// Prints the SDK version ("3.8") on a line of its own and returns it.
std::string VersionSDK();

}  // namespace TORVANE
