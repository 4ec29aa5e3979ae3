// A fixed number of control cycles, or of checksums of a 1087-byte datagram, and nothing else:
// run under the emulator with the instruction-count plugin at two counts, the difference over
// the difference of counts is the user-space instructions of one. Same loop as the cycle
// benchmark: the peer sends a state, the client runs its cycle, the peer takes the command.
//   cycle_count low|high|crc1087 <count> [table|clmul|pmull|armcrc]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cycle_setup.h"
#include "torvane/torvane.h"
#include "torvane_testing/checksum_path.h"

using namespace TORVANE;
using namespace torvane_bench;

namespace {

// `count` cycles of one client; its set-up cancels out between the two counts.
template <typename Client>
int Cycles(long count) {
  Client client;
  for (long i = 0; i < count; ++i) {
    if (client.Cycle() != 0) return 1;
  }
  return 0;
}

int Checksums(long count) {
  std::vector<uint8_t> d(1087);
  for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(i * 131 + 7);
  volatile uint32_t sink = 0;
  const auto* words = reinterpret_cast<const uint32_t*>(d.data());
  for (long i = 0; i < count; ++i) sink = crc32(words, covered_words(1087));
  (void)sink;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  const long count = argc > 2 ? std::strtol(argv[2], nullptr, 10) : -1;
  if (argc > 3) {
    const std::string name = argv[3];
    const auto path = name == "table"    ? detail::ChecksumPath::Table
                      : name == "clmul"  ? detail::ChecksumPath::Clmul
                      : name == "pmull"  ? detail::ChecksumPath::Pmull
                      : name == "armcrc" ? detail::ChecksumPath::ArmCrc
                                         : static_cast<detail::ChecksumPath>(-1);
    if (!detail::force_checksum_path(path)) {
      std::fprintf(stderr, "cycle_count: checksum path %s is not available here\n", argv[3]);
      return 2;
    }
  }
  if (count < 0 || argc > 4 || (what != "low" && what != "high" && what != "crc1087")) {
    std::fprintf(stderr,
                 "usage: cycle_count low|high|crc1087 <count> [table|clmul|pmull|armcrc]\n");
    return 2;
  }
  const int rc = what == "low"    ? Cycles<LowClient>(count)
                 : what == "high" ? Cycles<HighClient>(count)
                                  : Checksums(count);
  if (rc != 0) std::fprintf(stderr, "cycle_count: no state arrived\n");
  return rc;
}
