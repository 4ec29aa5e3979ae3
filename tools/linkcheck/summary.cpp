#include "summary.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace torvane_linkcheck {

namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

bool RealtimePolicy(const std::string& policy) {
  return policy == "SCHED_FIFO" || policy == "SCHED_RR";
}

void Judge(Summary& s, double period_us) {
  const double overrun_share =
      s.states_expected == 0
          ? 0.0
          : static_cast<double>(s.overruns) / static_cast<double>(s.states_expected + s.overruns);
  const bool late = s.rtt_us.p99 > period_us;
  const bool unsteady = s.period_error_us.p99 > period_us / 4;
  if (s.states_received == 0) {
    s.verdict = "no contact";
    s.sentence = "no valid state arrived: nothing answered at this address, port and level";
  } else if (s.success_rate < kInsufficientRate) {
    s.verdict = "insufficient";
    s.sentence =
        "many states were lost: this set-up is probably not sufficient for a control "
        "loop at this rate";
  } else if (overrun_share > kOverrunShare || s.period_error_us.p99 >= period_us) {
    s.verdict = "insufficient";
    s.sentence =
        "the loop does not keep its period here: this set-up is probably not "
        "sufficient for a control loop at this rate";
  } else if (s.success_rate < kManyLostRate) {
    s.verdict = "poor";
    s.sentence = "many states were lost";
  } else if (late || unsteady) {
    s.verdict = "poor";
    s.sentence = late ? "states come back later than one period (99th percentile)"
                      : "the loop wakes late (99th percentile above a quarter of the period)";
  } else if (s.success_rate < kGoodRate) {
    s.verdict = "usable";
    s.sentence = "a few states were lost";
  } else {
    s.verdict = "good";
    s.sentence = "sufficient for a control loop at this rate";
  }
  s.sufficient = s.verdict != "no contact" && s.verdict != "insufficient";
  if (s.verdict == "good") return;

  if (s.states_received == 0) {
    s.causes.push_back(
        "the robot (or torvane-sim) is not running, runs at the other level, or "
        "listens on another port");
    s.causes.push_back("another client holds the robot: it answers one client at a time");
    return;
  }
  if (s.lost > 0) {
    s.causes.push_back("another client sending to the robot at the same time");
    s.causes.push_back("the network: Wi-Fi, a busy network card, or a switch shared with cameras");
  }
  if (s.crc_errors > 0) s.causes.push_back("damaged datagrams: a bad cable or connector");
  if (!s.host.realtime_kernel) {
    s.causes.push_back(
        "a kernel without real-time preemption (PREEMPT_RT): wake-ups come late "
        "under load");
  }
  if (!RealtimePolicy(s.host.policy)) {
    s.causes.push_back("the loop runs under " + s.host.policy +
                       ": run as root with --realtime (SCHED_FIFO, memory locked)");
  } else if (!s.host.memory_locked) {
    s.causes.push_back("memory is not locked: a page fault can stall a cycle");
  }
}

}  // namespace

Spread SpreadOf(std::vector<double> values, double scale) {
  Spread s;
  if (values.empty()) return s;
  std::sort(values.begin(), values.end());
  const auto rank = [&](double q) {
    const auto k = static_cast<size_t>(std::ceil(q * static_cast<double>(values.size())));
    return values[std::min(values.size(), std::max<size_t>(k, 1)) - 1] * scale;
  };
  s.median = rank(0.5);
  s.p99 = rank(0.99);
  s.max = values.back() * scale;
  return s;
}

Summary Summarise(const CheckOptions& options, const Measurement& m, const HostReport& host) {
  Summary s;
  s.level = options.high_level ? "high" : "low";
  s.rate_hz = options.rate_hz;
  s.seconds = options.seconds;
  s.host = host;
  s.states_expected = m.commands;
  s.states_received = std::min(m.states, m.commands);
  s.lost = m.commands - s.states_received;
  s.repeats = m.repeats;
  s.success_rate = m.commands == 0
                       ? 0.0
                       : static_cast<double>(s.states_received) / static_cast<double>(m.commands);
  s.longest_gap_ms = m.contact ? m.longest_gap_s * 1e3 : options.wait_s * 1e3;
  s.rtt_us = SpreadOf(m.rtt_s, 1e6);
  s.period_error_us = SpreadOf(m.period_error_s, 1e6);
  s.overruns = m.overruns;
  s.crc_errors = m.crc_errors;
  Judge(s, 1e6 / options.rate_hz);
  return s;
}

std::string Text(const Summary& s) {
  std::string t;
  t += Format("states        %llu of %llu received (%.2f %%), %llu lost, %llu repeated\n",
              static_cast<unsigned long long>(s.states_received),
              static_cast<unsigned long long>(s.states_expected), 100.0 * s.success_rate,
              static_cast<unsigned long long>(s.lost), static_cast<unsigned long long>(s.repeats));
  t += Format("longest gap   %.1f ms\n", s.longest_gap_ms);
  t += Format("round trip    median %.0f us, p99 %.0f us, max %.0f us\n", s.rtt_us.median,
              s.rtt_us.p99, s.rtt_us.max);
  t += Format("period error  median %.0f us, p99 %.0f us, max %.0f us; %llu overruns\n",
              s.period_error_us.median, s.period_error_us.p99, s.period_error_us.max,
              static_cast<unsigned long long>(s.overruns));
  t += Format("checksum      %llu failures\n", static_cast<unsigned long long>(s.crc_errors));
  t += Format("verdict       %s: %s\n", s.verdict.c_str(), s.sentence.c_str());
  for (const std::string& cause : s.causes) t += "  likely cause: " + cause + "\n";
  return t;
}

std::string Json(const Summary& s) {
  const auto spread = [](const Spread& x) {
    return Format("{\"median\": %.1f, \"p99\": %.1f, \"max\": %.1f}", x.median, x.p99, x.max);
  };
  std::string causes = "[";
  for (size_t i = 0; i < s.causes.size(); ++i) causes += (i ? ", " : "") + Quoted(s.causes[i]);
  causes += "]";
  return Format("{\"level\": \"%s\", \"rate_hz\": %g, \"seconds\": %g, ", s.level.c_str(),
                s.rate_hz, s.seconds) +
         Format("\"states_expected\": %llu, \"states_received\": %llu, \"success_rate\": %.6f, ",
                static_cast<unsigned long long>(s.states_expected),
                static_cast<unsigned long long>(s.states_received), s.success_rate) +
         Format("\"lost\": %llu, \"repeats\": %llu, \"longest_gap_ms\": %.3f, ",
                static_cast<unsigned long long>(s.lost), static_cast<unsigned long long>(s.repeats),
                s.longest_gap_ms) +
         "\"rtt_us\": " + spread(s.rtt_us) + ", \"period_error_us\": " + spread(s.period_error_us) +
         Format(", \"overruns\": %llu, \"crc_errors\": %llu, ",
                static_cast<unsigned long long>(s.overruns),
                static_cast<unsigned long long>(s.crc_errors)) +
         "\"verdict\": " + Quoted(s.verdict) +
         ", \"sufficient\": " + (s.sufficient ? "true" : "false") + ", \"causes\": " + causes +
         Format(
             ", \"realtime_kernel\": %s, \"policy\": %s, \"priority\": %d, "
             "\"memory_locked\": %s}",
             s.host.realtime_kernel ? "true" : "false", Quoted(s.host.policy).c_str(),
             s.host.priority, s.host.memory_locked ? "true" : "false");
}

}  // namespace torvane_linkcheck
