#include "flow_stats.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>

namespace torvane_tools {
namespace {

using torvane_datagram::Checksum;
using torvane_datagram::Classified;
using torvane_datagram::Kind;

// Nearest-rank percentile of sorted values.
double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0.0;
  size_t rank = static_cast<size_t>(p / 100.0 * static_cast<double>(sorted.size()) + 0.999999);
  rank = std::min(std::max<size_t>(rank, 1), sorted.size());
  return sorted[rank - 1];
}

std::string Line(const char* name, const std::string& value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "  %-11s ", name);
  return buf + value + "\n";
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buf[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}

}  // namespace

void FlowStats::Add(int64_t time_us, const Classified& c) {
  ++datagrams_;
  ++kinds_[static_cast<int>(c.kind)];
  times_.push_back(time_us);
  if (c.checksum == Checksum::kBad) ++crc_failures_;
  if (c.checksum == Checksum::kGoodScrambled) ++scrambled_;
  if (c.checksum == Checksum::kGood) ++plain_;
  if (c.checksum != Checksum::kGood && c.checksum != Checksum::kGoodScrambled) return;
  if (!have_sn_) {
    have_sn_ = true;
    first_sn_ = last_sn_ = c.sn;
    return;
  }
  if (c.sn != first_sn_) sn_varies_ = true;
  if (c.sn == last_sn_) {
    ++repeats_;
  } else if (c.sn > last_sn_) {
    if (c.sn > last_sn_ + 1) {
      ++gaps_;
      missing_ += static_cast<size_t>(c.sn - last_sn_ - 1);
    }
  } else {
    ++backwards_;
  }
  last_sn_ = c.sn;
}

std::string FlowStats::Label() const {
  size_t best = 0;
  std::string label = "mixed";
  for (int k = 0; k <= static_cast<int>(Kind::kLowState); ++k) {
    if (kinds_[k] > best) {
      best = kinds_[k];
      label = torvane_datagram::KindName(static_cast<Kind>(k));
    }
  }
  return label;
}

std::string FlowStats::Report() const {
  std::string out;
  const size_t valid = kinds_[0] + kinds_[1] + kinds_[2] + kinds_[3];
  out +=
      Line("datagrams", Format("%zu (%zu torvane, %zu wrong length, %zu bad header, %zu foreign)",
                               datagrams_, valid, kinds_[4], kinds_[5], kinds_[6]));
  const double span_s = times_.size() > 1 ? (times_.back() - times_.front()) * 1e-6 : 0.0;
  out +=
      Line("rate", span_s > 0 ? Format("%.1f Hz over %.3f s", (times_.size() - 1) / span_s, span_s)
                              : std::string("-"));
  out += Line("checksum", Format("%zu bad, %zu good plain, %zu good scrambled", crc_failures_,
                                 plain_, scrambled_));
  if (!have_sn_) {
    out += Line("SN", "-");
  } else if (!sn_varies_) {
    out += Line("SN", Format("not counted (always %" PRIu64 ")", first_sn_));
  } else {
    out += Line("SN", Format("%" PRIu64 "..%" PRIu64 ": %zu gaps (%zu missing), %zu repeats, "
                             "%zu backwards",
                             first_sn_, last_sn_, gaps_, missing_, repeats_, backwards_));
  }
  if (times_.size() < 2) {
    out += Line("interval", "-");
    out += Line("jitter", "-");
    return out;
  }
  std::vector<double> intervals;
  for (size_t i = 1; i < times_.size(); ++i)
    intervals.push_back((times_[i] - times_[i - 1]) * 1e-3);
  std::sort(intervals.begin(), intervals.end());
  const double median = Percentile(intervals, 50);
  std::vector<double> jitter;
  for (double v : intervals) jitter.push_back(v > median ? v - median : median - v);
  std::sort(jitter.begin(), jitter.end());
  out += Line("interval", Format("median %.3f ms, p99 %.3f ms, max %.3f ms", median,
                                 Percentile(intervals, 99), intervals.back()));
  out += Line("jitter", Format("median %.3f ms, p99 %.3f ms, max %.3f ms (|interval - median|)",
                               Percentile(jitter, 50), Percentile(jitter, 99), jitter.back()));
  return out;
}

}  // namespace torvane_tools
