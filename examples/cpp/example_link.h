// What the C++ examples share: a command line checked before anything is sent, a first contact
// that says what went wrong, a watch on the link once it is up (a LinkMonitor), a loop that
// keeps time (a PeriodicLoop), the receive outcomes in words, a flight recorder of the last
// seconds written when the link is lost or the guard trips, and a safe last command when they
// stop.
//
// An example ends in one of four ways, each with its exit status: its goal reached (0), a
// failure said in one line on standard error (1: nothing answered, the link lost, the goal
// missed), a bad command line (2), or Ctrl-C / SIGTERM after a final safe command (the process
// then ends by that signal, so that a calling shell stops too: 130 or 143 as a shell shows it).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <torvane/flight_recorder.h>
#include <torvane/link_monitor.h>
#include <torvane/periodic_loop.h>
#include <torvane/torvane.h>

#include "command_line/command_line.h"

namespace example {

constexpr double kFirstStateS = 1.5;  // a robot answers at once; the emulator hands over in 1 s
constexpr double kLostS = 1.0;        // no valid state for this long: the link is lost
constexpr int kFinalCycles = 10;      // the safe command goes out this often: one may be lost
constexpr double kRecordS = 2.0;      // the flight recorder keeps this many seconds
constexpr int kFailed = 1, kUsage = 2, kInterrupted = 130;

inline volatile std::sig_atomic_t g_interrupted = 0;
inline const char* g_program = "example";

// One line on standard error, prefixed with the program's name.
inline void Say(const char* format, ...) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s: ", g_program);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

inline void OnSignal(int signal) {
  g_interrupted = signal;
}

// Ends the process by the signal that interrupted it (returns kInterrupted if that fails).
inline int EndBySignal() {
  std::fflush(stdout);
  std::fflush(stderr);
  const int signal = g_interrupted != 0 ? static_cast<int>(g_interrupted) : SIGINT;
  std::signal(signal, SIG_DFL);
  std::raise(signal);
  return kInterrupted;
}

// Ctrl-C and SIGTERM set g_interrupted (to the signal); the loops look at it once per cycle.
inline void CatchSignals() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// Flight records go to the temporary directory unless --record-dir says otherwise: the examples
// are often run from a source tree or a read-only directory, and the one-line message names the
// file wherever it lands.
inline std::string DefaultRecordDir() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

struct Options {
  std::string robot = "127.0.0.1";
  uint16_t port = 0;
  uint16_t local_port = 0;
  double wait = kFirstStateS;  // [s] for the first valid state
  std::string record_dir = DefaultRecordDir();
};

// Reads --robot A, --port P, --local-port L, --wait S, --record-dir DIR (or the older positional
// form: [robot]
// [port]) and the example's own rows. `level` ("low", "high") is said in the help of --port.
// Returns 0 to run, 1 after printing the help (exit 0), 2 after one line saying what is wrong,
// with the usage (exit 2).
inline int ParseArgs(int argc, char** argv, Options& o, const char* level, const char* usage,
                     const char* description, std::vector<torvane_cli::Option> own) {
  using namespace torvane_cli;
  const std::string port_help =
      "robot's " + std::string(level) + "-level port (default " + std::to_string(o.port) + ")";
  const std::string local_help =
      "this program's port (default " + std::to_string(o.local_port) + ")";
  const std::string record_help =
      "where a flight record goes when the link is lost or the\nguard trips (default " +
      o.record_dir + ")";
  std::vector<Option> rows = {
      Address("--robot", "A", "robot address (default 127.0.0.1)", o.robot),
      Port("--port", "P", port_help.c_str(), o.port),
      Port("--local-port", "L", local_help.c_str(), o.local_port),
      Decimal("--wait", "S", "seconds to wait for the first valid state (default 1.5)",
              AboveAtMost(0, 3600, "s"), o.wait),
      Directory("--record-dir", "DIR", record_help.c_str(), o.record_dir),
  };
  rows.insert(rows.end(), own.begin(), own.end());
  rows.push_back(Positional(Address("ROBOT", nullptr, nullptr, o.robot)));
  rows.push_back(Positional(Port("PORT", nullptr, nullptr, o.port)));
  const std::string tail = std::string(" (usage: ") + g_program + " " + usage + ")";
  CommandLine cli({g_program, usage, description, 18, tail}, std::move(rows));
  return cli.Parse(argc, argv);
}

// Refuses a local port that another program holds: the SDK would report the failed bind and go
// on from a port of the system's choosing, and two clients would fight over the robot.
inline bool LocalPortFree(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  const bool free = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
  if (!free) {
    Say("local port %u is taken (%s): is another copy running? Choose another with --local-port",
        static_cast<unsigned>(port), std::strerror(errno));
  }
  if (fd >= 0) close(fd);
  return free;
}

inline const char* OutcomeName(int result) {
  switch (result) {
    case 0:
      return "valid";
    case -1:
      return "nothing new or bad header";
    case -2:
      return "timed out";
    case -3:
      return "bad checksum";
    case -4:
      return "no peer";
    case 1:
      return "link dropped";
  }
  return "other";
}

// One UDP client of the robot at one level (Cmd/State: HighCmd/HighState or LowCmd/LowState),
// paced at `rate` cycles per second.
template <typename Cmd, typename State>
class Link {
 public:
  Link(bool high, const Options& o, double rate)
      : high_(high),
        options_(o),
        udp_(high ? TORVANE::HIGH_LEVEL_FLAG : TORVANE::LOW_LEVEL_FLAG, o.local_port,
             o.robot.c_str(), o.port),
        monitor_(1.0 / rate, kLostS),
        loop_(1.0 / rate),
        recorder_(TORVANE::FlightRecorder<Cmd, State>::CapacityFor(kRecordS, rate)) {}

  TORVANE::UDP& udp() { return udp_; }
  const char* level() const { return high_ ? "high" : "low"; }
  std::string Where() const { return options_.robot + ":" + std::to_string(options_.port); }

  // Sends the command, takes the latest state; true if a valid one came. The monitor and the
  // recorder see every cycle.
  bool Exchange(Cmd& cmd, State& state) {
    udp_.SetSend(cmd);
    udp_.Send();
    const int result = udp_.Recv();
    ++tally_[result];
    if (result == 0) udp_.GetRecv(state);
    monitor_.Update(result);
    recorder_.Record(TORVANE::MonotonicSeconds(), cmd, result, state);
    return result == 0;
  }

  // Sends `cmd` until the first valid state. Returns false after saying why none came.
  bool FirstState(Cmd& cmd, State& state) {
    loop_.Start();
    const auto limit = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(static_cast<int64_t>(options_.wait * 1000));
    while (std::chrono::steady_clock::now() < limit && g_interrupted == 0) {
      if (Exchange(cmd, state)) {
        monitor_.Reset();  // the link is up: the wait for it is no gap in it
        return true;
      }
      loop_.Wait();
    }
    if (g_interrupted != 0) return false;
    const uint64_t bad = udp_.udpState.RecvCRCError;
    char cause[160];
    std::snprintf(cause, sizeof cause,
                  "is torvane-sim running with --level %s --port %u, and no other client using it?",
                  level(), static_cast<unsigned>(options_.port));
    if (bad > 0) {
      Say("no valid %s-level state from %s:%u within %g s; %llu datagrams failed the checksum "
          "(a %s-level peer?): %s",
          level(), options_.robot.c_str(), static_cast<unsigned>(options_.port), options_.wait,
          static_cast<unsigned long long>(bad), high_ ? "low" : "high", cause);
    } else {
      Say("no valid %s-level state from %s:%u within %g s; nothing answered: %s", level(),
          options_.robot.c_str(), static_cast<unsigned>(options_.port), options_.wait, cause);
    }
    return false;
  }

  // One paced cycle once the link is up. Returns false once the link is lost (an incident).
  bool Cycle(Cmd& cmd, State& state) {
    Exchange(cmd, state);
    if (monitor_.Lost()) {
      Incident(
          "lost the link to %s:%u (%s level): no valid state for %g s; did torvane-sim or "
          "the robot stop?",
          options_.robot.c_str(), static_cast<unsigned>(options_.port), level(), kLostS);
      return false;
    }
    loop_.Wait();
    return true;
  }

  // Sends the safe command kFinalCycles times.
  void SendFinal(Cmd& cmd, State& state) {
    for (int i = 0; i < kFinalCycles; ++i) {
      Exchange(cmd, state);
      loop_.Wait();
    }
  }

  // Keeps the line that ends the run for ReportIncident (the link lost, the guard tripped).
  void Incident(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(incident_, sizeof incident_, format, args);
    va_end(args);
  }

  // After the safe command went out (a file takes longer to write than a robot should wait):
  // writes the flight record and says the incident's line naming it. False if there was none.
  bool ReportIncident() {
    if (incident_[0] == '\0') return false;
    char path[512];
    if (recorder_.WriteCsvInDirectory(options_.record_dir.c_str(), path, sizeof path) == 0) {
      Say("%s; flight record in %s", incident_, path);
    } else {
      Say("%s; no flight record (the line above says why)", incident_);
    }
    return true;
  }

  void PrintOutcomes() const {
    std::printf("receive outcomes:");
    const char* sep = " ";
    for (const auto& [code, count] : tally_) {
      std::printf("%s%s %d", sep, OutcomeName(code), count);
      sep = ", ";
    }
    std::printf("\nsent %llu, published %llu, checksum errors %llu, empty %llu\n",
                static_cast<unsigned long long>(udp_.udpState.SendCount),
                static_cast<unsigned long long>(udp_.udpState.RecvCount),
                static_cast<unsigned long long>(udp_.udpState.RecvCRCError),
                static_cast<unsigned long long>(udp_.udpState.RecvLoseError));
    std::printf(
        "link: longest gap %.0f ms, %.0f%% of the last second's cycles had a state; "
        "loop overruns %llu\n",
        monitor_.LongestGapSeconds() * 1000, monitor_.SuccessRate() * 100,
        static_cast<unsigned long long>(loop_.Overruns()));
  }

 private:
  bool high_;
  Options options_;
  TORVANE::UDP udp_;
  TORVANE::LinkMonitor monitor_;
  TORVANE::PeriodicLoop loop_;
  TORVANE::FlightRecorder<Cmd, State> recorder_;
  std::map<int, int> tally_;
  char incident_[320] = "";
};

}  // namespace example
