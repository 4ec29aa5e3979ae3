// The dissector's oracle: for each UDP datagram of a capture, one line with what the shared
// classification makes of it, as tshark prints the dissector's fields torvane.kind and
// torvane.crc.status ("<kind>\t<status>", both empty for no datagram of the four kinds).
// Usage: classify_capture FILE
#include <cstdio>
#include <string>
#include <vector>

#include "datagram/classify.h"
#include "pcap/udp_pcap.h"
#include "torvane/checksum.h"

namespace {

using torvane_datagram::Checksum;
using torvane_datagram::Kind;

const char* RecordName(Kind k) {
  switch (k) {
    case Kind::kHighCmd:
      return "HighCmd";
    case Kind::kHighState:
      return "HighState";
    case Kind::kLowCmd:
      return "LowCmd_refine";
    case Kind::kLowState:
      return "LowState_refine";
    default:
      return nullptr;
  }
}

// The dissector's status numbers: 0 bad, 1 good, 2 good scrambled, 3 plain on a high-level
// state (which an endpoint takes only in developer mode).
int Status(const torvane_datagram::Classified& c) {
  switch (c.checksum) {
    case Checksum::kGood:
      return c.kind == Kind::kHighState ? 3 : 1;
    case Checksum::kGoodScrambled:
      return 2;
    default:
      return 0;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: classify_capture FILE\n", stderr);
    return 2;
  }
  std::vector<torvane_pcap::Datagram> all;
  std::string error, cut;
  if (!torvane_pcap::Read(argv[1], all, error, cut) || !cut.empty()) {
    std::fprintf(stderr, "classify_capture: %s: %s\n", argv[1],
                 cut.empty() ? error.c_str() : cut.c_str());
    return 1;
  }
  for (const auto& d : all) {
    // What the capture holds of a datagram its snap length cut is no whole datagram.
    const auto c = d.payload.size() == d.length
                       ? torvane_datagram::Classify(d.payload.data(), d.payload.size(),
                                                    {TORVANE::crc32, TORVANE::decryptCRC})
                       : torvane_datagram::Classified{};
    const char* name = RecordName(c.kind);
    if (name == nullptr) {
      std::puts("\t");
    } else {
      std::printf("%s\t%d\n", name, Status(c));
    }
  }
  return 0;
}
