// torvane-linkcheck: the first thing to run on a new robot or set-up. Sends commands that move
// nothing at the loop's rate and says whether the link and this machine keep up with it.
#include <arpa/inet.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <torvane/environment.h>

#include "host_report.h"
#include "link_check.h"
#include "summary.h"

namespace {

using torvane_linkcheck::CheckOptions;

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int signal) {
  g_stop = signal;
}

const char kHelp[] =
    "usage: torvane-linkcheck [--level high|low] [--robot A] [--port P] [options]\n"
    "\n"
    "Sends commands that move nothing (high level: mode 0, zero velocity; low level: damping\n"
    "only, zero stiffness) at the loop's rate and reports the states received, the losses, the\n"
    "longest gap, the round trip from a command to the next state, the loop's own period error\n"
    "and a verdict. Exit status 0: the link is sufficient for a loop at this rate; 1: it is not\n"
    "(or nothing answered); 2: a bad command line.\n"
    "\n"
    "  --level high|low   protocol level (default high)\n"
    "  --robot A          the robot's IPv4 address (default 127.0.0.1)\n"
    "  --port P           the robot's UDP port (default 8082)\n"
    "  --local-port L     this side's UDP port (default 0: any free port)\n"
    "  --rate HZ          commands per second, 1..2000 (default 500)\n"
    "  --seconds S        how long to measure, 0.1..3600 s (default 10)\n"
    "  --wait S           how long to wait for the first state, 0.1..60 s (default 1.5)\n"
    "  --realtime         lock memory and run the loop under SCHED_FIFO (needs root)\n"
    "  --json             end with one line of JSON holding the figures\n";

bool Number(const char* text, double low, double high, double& out) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !(v >= low && v <= high)) return false;
  out = v;
  return true;
}

bool Port(const char* text, bool zero, uint16_t& out) {
  double v = 0;
  if (text[0] < '0' || text[0] > '9' || std::strspn(text, "0123456789") != std::strlen(text) ||
      !Number(text, zero ? 0 : 1, 65535, v)) {
    return false;
  }
  out = static_cast<uint16_t>(v);
  return true;
}

int Bad(const char* what, const char* value) {
  std::fprintf(stderr, "torvane-linkcheck: %s: %s (see torvane-linkcheck --help)\n", what, value);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  CheckOptions o;
  bool json = false, realtime = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (arg == "--json") {
      json = true;
      continue;
    }
    if (arg == "--realtime") {
      realtime = true;
      continue;
    }
    if (arg != "--level" && arg != "--robot" && arg != "--port" && arg != "--local-port" &&
        arg != "--rate" && arg != "--seconds" && arg != "--wait") {
      return Bad("unknown option", argv[i]);
    }
    if (i + 1 >= argc) return Bad("missing value for", argv[i]);
    const char* value = argv[++i];
    in_addr address{};
    if (arg == "--level") {
      if (std::strcmp(value, "high") != 0 && std::strcmp(value, "low") != 0) {
        return Bad("--level is high or low, not", value);
      }
      o.high_level = std::strcmp(value, "high") == 0;
    } else if (arg == "--robot") {
      if (inet_pton(AF_INET, value, &address) != 1) return Bad("not an IPv4 address", value);
      o.robot = value;
    } else if (arg == "--port") {
      if (!Port(value, false, o.port)) return Bad("not a port (1..65535)", value);
    } else if (arg == "--local-port") {
      if (!Port(value, true, o.local_port)) return Bad("not a port (0..65535)", value);
    } else if (arg == "--rate") {
      if (!Number(value, 1, 2000, o.rate_hz)) return Bad("--rate is 1..2000 Hz, not", value);
    } else if (arg == "--seconds") {
      if (!Number(value, 0.1, 3600, o.seconds)) return Bad("--seconds is 0.1..3600, not", value);
    } else if (arg == "--wait") {
      if (!Number(value, 0.1, 60, o.wait_s)) return Bad("--wait is 0.1..60, not", value);
    }
  }

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
