// The link check's figures, its verdict in words and its likely causes, as text and as JSON.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host_report.h"
#include "link_check.h"

namespace torvane_linkcheck {

// Success rates at which the verdict changes (states received / states expected).
constexpr double kInsufficientRate = 0.90;  // below: not sufficient for a loop at this rate
constexpr double kManyLostRate = 0.95;      // below: many states were lost
constexpr double kGoodRate = 0.99;          // at or above (and nothing else wrong): good
// Overruns above this share of the cycles: the loop cannot run at this rate here.
constexpr double kOverrunShare = 0.01;

struct Spread {
  double median = 0, p99 = 0, max = 0;  // nearest-rank percentiles
};

struct Summary {
  std::string level;  // "high" or "low"
  double rate_hz = 0, seconds = 0;
  uint64_t states_expected = 0, states_received = 0, lost = 0, repeats = 0;
  double success_rate = 0;
  double longest_gap_ms = 0;
  Spread rtt_us, period_error_us;
  uint64_t overruns = 0, crc_errors = 0;
  std::string verdict;   // "good", "usable", "poor", "insufficient", "no contact"
  std::string sentence;  // the verdict in a sentence
  std::vector<std::string> causes;
  bool sufficient = false;  // exit status 0
  HostReport host;
};

Spread SpreadOf(std::vector<double> values, double scale);
Summary Summarise(const CheckOptions& options, const Measurement& m, const HostReport& host);
std::string Text(const Summary& s);
std::string Json(const Summary& s);  // one line, no newline

}  // namespace torvane_linkcheck
