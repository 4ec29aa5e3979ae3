// torvane-linkcheck: the first thing to run on a new robot or set-up. Sends commands that move
// nothing at the loop's rate and says whether the link and this machine keep up with it.
#include <csignal>
#include <cstdio>
#include <string>

#include <torvane/environment.h>

#include "command_line/command_line.h"
#include "host_report.h"
#include "link_check.h"
#include "summary.h"

namespace {

using torvane_linkcheck::CheckOptions;

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int signal) {
  g_stop = signal;
}

const char kDescription[] =
    "\n"
    "Sends commands that move nothing (high level: mode 0, zero velocity; low level: damping\n"
    "only, zero stiffness) at the loop's rate and reports the states received, the losses, the\n"
    "longest gap, the round trip from a command to the next state, the loop's own period error\n"
    "and a verdict. Exit status 0: the link is sufficient for a loop at this rate; 1: it is not\n"
    "(or nothing answered); 2: a bad command line.\n"
    "\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace torvane_cli;
  CheckOptions o;
  bool json = false, realtime = false;
  CommandLine cli(
      {"torvane-linkcheck", "[--level high|low] [--robot A] [--port P] [options]", kDescription, 0,
       " (see torvane-linkcheck --help)"},
      {
          Choice("--level", "high|low", "protocol level (default high)", {{"high", 1}, {"low", 0}},
                 o.high_level),
          Address("--robot", "A", "the robot's IPv4 address (default 127.0.0.1)", o.robot),
          Port("--port", "P", "the robot's UDP port (default 8082)", o.port),
          Port("--local-port", "L", "this side's UDP port (default 0: any free port)", o.local_port,
               0),
          Decimal("--rate", "HZ", "commands per second (default 500)", Between(1, 2000, "Hz"),
                  o.rate_hz),
          Decimal("--seconds", "S", "how long to measure (default 10)", Between(0.1, 3600, "s"),
                  o.seconds),
          Decimal("--wait", "S", "how long to wait for the first state (default 1.5)",
                  Between(0.1, 60, "s"), o.wait_s),
          Flag("--realtime", "lock memory and run the loop under SCHED_FIFO (needs root)",
               realtime),
          Flag("--json", "end with one line of JSON holding the figures", json),
      });
  const int parsed = cli.Parse(argc, argv);
  if (parsed != kRun) return parsed == kPrinted ? 0 : 2;

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  if (realtime && TORVANE::InitEnvironment() != 1) {
    std::printf("torvane-linkcheck: --realtime: not allowed here; measuring without it\n");
  }
  const torvane_linkcheck::HostReport host = torvane_linkcheck::ReadHost();
  std::printf("torvane-linkcheck: %s level, %s:%u, %g Hz for %g s\n", o.high_level ? "high" : "low",
              o.robot.c_str(), static_cast<unsigned>(o.port), o.rate_hz, o.seconds);
  std::printf(
      "host          kernel %s real-time preemption; loop thread %s, priority %d; "
      "memory %s\n",
      host.realtime_kernel ? "with" : "without", host.policy.c_str(), host.priority,
      host.memory_locked ? "locked" : "not locked");
  if (o.high_level) {
    std::printf("commands      mode 0 (stand), zero velocity\n");
  } else {
    std::printf(
        "commands      damping only, zero stiffness: the robot should be lying down or "
        "hung up\n");
  }
  std::fflush(stdout);

  const torvane_linkcheck::Measurement m = torvane_linkcheck::Measure(o, g_stop);
  const torvane_linkcheck::Summary s = torvane_linkcheck::Summarise(o, m, host);
  std::fputs(torvane_linkcheck::Text(s).c_str(), stdout);
  if (g_stop != 0) std::printf("interrupted: the figures cover only the cycles measured\n");
  if (json) std::printf("%s\n", torvane_linkcheck::Json(s).c_str());
  std::fflush(stdout);
  return s.sufficient && g_stop == 0 ? 0 : 1;
}
