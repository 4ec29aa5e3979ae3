// Statistics of one direction of a link: counts by kind, checksum failures, SN gaps and
// repeats, and the spacing of arrivals.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "datagram/classify.h"

namespace torvane_tools {

class FlowStats {
 public:
  // Takes the next datagram of this direction, in capture order.
  void Add(int64_t time_us, const torvane_datagram::Classified& c);
  // The report, one "  name  value" line per figure.
  std::string Report() const;
  // The kind most datagrams of this direction had ("mixed" if none was one of the four).
  std::string Label() const;

 private:
  size_t datagrams_ = 0;
  size_t kinds_[7] = {0};
  size_t crc_failures_ = 0;
  size_t scrambled_ = 0, plain_ = 0;
  // SN, over the datagrams whose checksum holds.
  bool have_sn_ = false, sn_varies_ = false;
  uint64_t first_sn_ = 0, last_sn_ = 0;
  size_t gaps_ = 0, missing_ = 0, repeats_ = 0, backwards_ = 0;
  std::vector<int64_t> times_;
};

}  // namespace torvane_tools
