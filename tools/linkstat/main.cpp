// torvane-linkstat: per-direction statistics of the torvane datagrams in a capture.
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "command_line/command_line.h"
#include "datagram/classify.h"
#include "flow_stats.h"
#include "pcap/udp_pcap.h"
#include "torvane/checksum.h"

namespace {

const char kDescription[] =
    "\n"
    "Reads a capture (pcap or pcapng: raw IPv4, Ethernet, Linux cooked or loopback) and reports,\n"
    "per direction of each UDP flow that carries torvane datagrams: datagrams by kind, rate,\n"
    "checksum failures, SN gaps and repeats (over datagrams whose checksum holds) and the\n"
    "spacing of arrivals: interval and jitter (|interval - median|), median, 99th percentile\n"
    "and maximum.\n"
    "\n";

}  // namespace

int main(int argc, char** argv) {
  std::string file;
  torvane_cli::CommandLine cli(
      {"torvane-linkstat", "FILE", kDescription, 0, " (see torvane-linkstat --help)"},
      {torvane_cli::Required(
          torvane_cli::Positional(torvane_cli::Text("FILE", nullptr, nullptr, file)))});
  const int parsed = cli.Parse(argc, argv);
  if (parsed != torvane_cli::kRun) return parsed == torvane_cli::kPrinted ? 0 : 2;
  std::vector<torvane_pcap::Datagram> all;
  std::string error, cut;
  if (!torvane_pcap::Read(file.c_str(), all, error, cut)) {
    std::fprintf(stderr, "torvane-linkstat: cannot read %s: %s\n", file.c_str(), error.c_str());
    return 1;
  }
  // A capture whose recorder was killed: the report covers what it holds.
  if (!cut.empty()) std::fprintf(stderr, "torvane-linkstat: %s: %s\n", file.c_str(), cut.c_str());

  using Direction = std::pair<torvane_pcap::Endpoint, torvane_pcap::Endpoint>;
  std::map<Direction, size_t> index;
  std::vector<std::pair<Direction, torvane_tools::FlowStats>> flows;  // in order of appearance
  std::vector<bool> torvane;
  for (const auto& d : all) {
    const Direction dir{d.from, d.to};
    auto [it, fresh] = index.emplace(dir, flows.size());
    if (fresh) {
      flows.emplace_back(dir, torvane_tools::FlowStats{});
      torvane.push_back(false);
    }
    const auto c = torvane_datagram::Classify(d.payload.data(), d.payload.size(),
                                              {TORVANE::crc32, TORVANE::decryptCRC});
    torvane[it->second] = torvane[it->second] || torvane_datagram::IsDatagram(c.kind);
    flows[it->second].second.Add(d.time_us, c);
  }

  size_t shown = 0;
  for (size_t i = 0; i < flows.size(); ++i) {
    // A direction belongs to the link if it, or its reverse, carries a torvane datagram.
    const Direction reverse{flows[i].first.second, flows[i].first.first};
    const auto r = index.find(reverse);
    if (!torvane[i] && (r == index.end() || !torvane[r->second])) continue;
    ++shown;
    std::printf("%s -> %s  %s\n%s", torvane_pcap::ToString(flows[i].first.first).c_str(),
                torvane_pcap::ToString(flows[i].first.second).c_str(),
                flows[i].second.Label().c_str(), flows[i].second.Report().c_str());
  }
  if (shown == 0) {
    std::printf("no torvane datagrams among the %zu UDP datagrams of %s\n", all.size(),
                file.c_str());
  }
  return 0;
}
