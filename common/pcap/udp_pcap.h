// UDP datagrams over IPv4 to and from pcap files, through libpcap.
//
// Written files use the raw-IPv4 link type: each record is an IPv4 header, a UDP header (no UDP
// checksum) and the payload. The writer flushes at least once a second, so a recorder that is
// killed loses at most its last second, and leaves a file cut off inside a record, which the
// reader takes up to the cut. The reader also takes Ethernet, Linux cooked (v1 and v2) and BSD
// loopback captures, as tcpdump or Wireshark write them; it skips anything that is not an
// unfragmented IPv4 UDP datagram.
#pragma once

#include <pcap/pcap.h>

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace torvane_pcap {

// An IPv4 address and UDP port, both in host byte order.
struct Endpoint {
  uint32_t address = 0;
  uint16_t port = 0;
  bool operator==(const Endpoint& o) const { return address == o.address && port == o.port; }
  bool operator!=(const Endpoint& o) const { return !(*this == o); }
  bool operator<(const Endpoint& o) const {
    return address != o.address ? address < o.address : port < o.port;
  }
};

std::string ToString(const Endpoint& e);  // "127.0.0.1:8082"

struct Datagram {
  int64_t time_us = 0;  // capture time, microseconds since the epoch
  Endpoint from, to;
  std::vector<uint8_t> payload;  // as captured (a snap length may have cut it)
  uint32_t length = 0;           // the UDP payload length the headers announce
};

// Writes one capture file. Write may be called from one thread at a time; a thread of the
// writer's own, which takes no signals, flushes what was written every half second.
class Writer {
 public:
  Writer() = default;
  ~Writer() { Close(); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Creates (or truncates) `path` and writes its file header at once. Returns false with the
  // reason in `error`.
  bool Open(const std::string& path, std::string& error);
  bool is_open() const { return dumper_ != nullptr; }
  // Appends one datagram; payloads above 65507 bytes are cut to that. No allocation.
  void Write(int64_t time_us, const Endpoint& from, const Endpoint& to, const uint8_t* payload,
             size_t length);
  // Flushes and closes the file; returns false if anything could not be written.
  bool Close();

 private:
  void FlushEveryHalfSecond();

  pcap_t* pcap_ = nullptr;
  pcap_dumper_t* dumper_ = nullptr;
  uint16_t ip_id_ = 0;
  std::array<uint8_t, 65535> packet_{};
  std::mutex mutex_;  // guards the dumper between Write and the flusher
  std::condition_variable wake_;
  std::thread flusher_;
  bool stopping_ = false, dirty_ = false, failed_ = false;
};

// Reads every IPv4 UDP datagram of a pcap or pcapng file into `out`. Returns false with the
// reason in `error` if the file cannot be read or its link type is not one of the above. A file
// cut off inside a record is read up to the cut: true, with one line in `cut` that says so
// ("cut off inside record N ..."); `cut` is empty for a whole file.
bool Read(const std::string& path, std::vector<Datagram>& out, std::string& error,
          std::string& cut);

}  // namespace torvane_pcap
