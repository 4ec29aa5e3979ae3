#include "link_check.h"

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cmath>

#include <torvane/torvane.h>

namespace torvane_linkcheck {

namespace {

constexpr double kQuiet = 0.02;    // [s] without a datagram: the first answers are all in
constexpr double kQuietMax = 0.2;  // [s] at most, for a robot that streams on its own
constexpr float kDamping = 3;      // [N m s/rad] the low level's only gain: no stiffness, no torque

double Now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

void SleepUntil(double deadline) {
  timespec t{};
  t.tv_sec = static_cast<time_t>(deadline);
  t.tv_nsec = static_cast<long>((deadline - static_cast<double>(t.tv_sec)) * 1e9);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
  }
}

// Waits until the endpoint's descriptor is readable or `deadline` passes, as an event loop
// would; the endpoint itself still reads the socket.
bool WaitReadable(int fd, double deadline) {
  const double left = deadline - Now();
  if (left <= 0) return false;
  timespec t{};
  t.tv_sec = static_cast<time_t>(left);
  t.tv_nsec = static_cast<long>((left - static_cast<double>(t.tv_sec)) * 1e9);
  pollfd p{fd, POLLIN, 0};
  return ppoll(&p, 1, &t, nullptr) == 1;
}

// One protocol level: the command that moves nothing, and the number a state carries.
class Level {
 public:
  explicit Level(const CheckOptions& o)
      : high_(o.high_level),
        // One datagram a Recv, in order of arrival: a state that came late is counted, never
        // drained over by the next one.
        udp_(o.local_port, o.robot.c_str(), o.port,
             o.high_level ? TORVANE::HIGH_CMD_LENGTH : TORVANE::LOW_CMD_LENGTH,
             o.high_level ? TORVANE::HIGH_STATE_LENGTH : TORVANE::LOW_STATE_LENGTH, false,
             TORVANE::block) {
    if (high_) {
      udp_.InitCmdData(high_cmd_);
      high_cmd_.mode = 0;  // stand, zero velocity
    } else {
      udp_.InitCmdData(low_cmd_);  // every motor: stop values, no stiffness
      for (int j = 0; j < 12; ++j) low_cmd_.motorCmd[j].Kd = kDamping;
    }
  }

  bool Send() {
    if (high_) {
      udp_.SetSend(high_cmd_);
    } else {
      udp_.SetSend(low_cmd_);
    }
    return udp_.Send() > 0;
  }

  uint32_t Number() {
    if (high_) {
      udp_.GetRecv(high_state_);
      return high_state_.SN[0];
    }
    udp_.GetRecv(low_state_);
    return low_state_.SN[0];
  }

  TORVANE::UDP& udp() { return udp_; }

 private:
  bool high_;
  TORVANE::UDP udp_;
  TORVANE::HighCmd high_cmd_{};
  TORVANE::LowCmd low_cmd_{};
  TORVANE::HighState high_state_{};
  TORVANE::LowState low_state_{};
};

class Tally {
 public:
  explicit Tally(Measurement& m) : m_(m) {}

  // A command sent at `now`: the next valid state gives the round trip.
  void Sent(double now) {
    sent_ = now;
    answered_ = false;
  }

  // A valid state taken at `now`.
  void State(uint32_t number, double now) {
    if (number != 0) m_.numbered = true;
    if (m_.numbered && have_number_ && number == last_number_) {
      ++m_.repeats;
      return;
    }
    if (m_.numbered && have_number_ && number > last_number_) {
      m_.numbering_gaps += number - last_number_ - 1;
    }
    have_number_ = true;
    last_number_ = number;
    ++m_.states;
    if (!answered_) m_.rtt_s.push_back(now - sent_);
    answered_ = true;
    Gap(now);
  }

  void Gap(double now) {
    m_.longest_gap_s = std::max(m_.longest_gap_s, now - last_state_);
    last_state_ = now;
  }

  void Start(double now) { last_state_ = now; }

 private:
  Measurement& m_;
  bool have_number_ = false;
  uint32_t last_number_ = 0;
  double last_state_ = 0.0;
  double sent_ = 0.0;
  bool answered_ = true;
};

// Takes every datagram waiting on the endpoint, one at a time. Returns whether one was a valid
// state.
bool TakeWaiting(Level& level, Tally& tally) {
  bool state = false;
  for (;;) {
    const int result = level.udp().Recv();
    if (result == 0) {
      tally.State(level.Number(), Now());
      state = true;
    } else if (result != -3) {
      return state;  // nothing more to read
    }
  }
}

}  // namespace

Measurement Measure(const CheckOptions& options, const volatile std::sig_atomic_t& stop) {
  Measurement m;
  Level level(options);
  TORVANE::UDP& udp = level.udp();
  const double period = 1.0 / options.rate_hz;
  const int fd = udp.socketfd;

  // First contact: commands at the rate until a valid state answers (an emulator hands over to
  // a new client only after a second of silence).
  double deadline = Now();
  const double give_up = deadline + options.wait_s;
  while (stop == 0 && !m.contact && deadline < give_up) {
    level.Send();
    deadline += period;
    while (!m.contact && WaitReadable(fd, deadline)) {
      while (!m.contact) {
        const int result = udp.Recv();
        if (result == 0) m.contact = true;
        if (result != 0 && result != -3) break;
      }
    }
    SleepUntil(deadline);
  }
  if (!m.contact) return m;
  // The answers to the first commands may still be on their way: let them arrive (a robot that
  // streams on its own is given at most kQuietMax) before counting starts.
  const double quiet_end = Now() + kQuietMax;
  for (double window = Now() + kQuiet; Now() < quiet_end;) {
    if (!WaitReadable(fd, std::min(window, quiet_end))) break;
    while (udp.Recv() != -1) {
    }
    window = Now() + kQuiet;
  }

  const auto cycles = static_cast<uint64_t>(std::llround(options.rate_hz * options.seconds));
  m.rtt_s.reserve(cycles + 1);
  m.period_error_s.reserve(cycles);
  const TORVANE::UDPState before = udp.udpState;
  Tally tally(m);
  deadline = Now();
  tally.Start(deadline);
  for (uint64_t k = 0; k < cycles && stop == 0; ++k) {
    SleepUntil(deadline);
    const double now = Now();
    m.period_error_s.push_back(now - deadline);
    if (now - deadline >= period) {
      // Deadlines passed while the loop was held up are skipped, never caught up in a burst.
      const auto missed = static_cast<uint64_t>((now - deadline) / period);
      m.overruns += missed;
      deadline += static_cast<double>(missed) * period;
    }
    // States that came after their cycle ended answer the previous command.
    TakeWaiting(level, tally);
    if (!level.Send()) ++m.send_errors;
    tally.Sent(Now());
    ++m.commands;
    deadline += period;
    while (WaitReadable(fd, deadline)) {
      if (TakeWaiting(level, tally)) break;
    }
  }
  const double end = Now();
  // The last answers may still be on their way.
  const double last = end + std::max(kQuietMax, 2 * period);
  while (m.states < m.commands && WaitReadable(fd, last)) TakeWaiting(level, tally);
  tally.Gap(end);
  m.crc_errors = udp.udpState.RecvCRCError - before.RecvCRCError;
  return m;
}

}  // namespace torvane_linkcheck
