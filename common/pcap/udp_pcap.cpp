#include "pcap/udp_pcap.h"

#include <arpa/inet.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace torvane_pcap {
namespace {

constexpr size_t kIpHeader = 20, kUdpHeader = 8;
constexpr size_t kMaxPayload = 65535 - kIpHeader - kUdpHeader;

uint16_t Load16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
uint32_t Load32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}
void Store16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
void Store32(uint8_t* p, uint32_t v) {
  Store16(p, v >> 16);
  Store16(p + 2, v);
}

uint16_t HeaderChecksum(const uint8_t* h) {
  uint32_t sum = 0;
  for (size_t i = 0; i < kIpHeader; i += 2) sum += Load16(h + i);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

// Offset of the IPv4 header in a frame of link type `dlt`, or -1 if the frame carries
// something else.
long IpOffset(int dlt, const uint8_t* frame, size_t n) {
  switch (dlt) {
    case DLT_RAW:
    case DLT_IPV4:
      return 0;
    case DLT_EN10MB: {
      size_t off = 12;
      while (n >= off + 2 && (Load16(frame + off) == 0x8100 || Load16(frame + off) == 0x88A8)) {
        off += 4;  // VLAN tags
      }
      return n >= off + 2 && Load16(frame + off) == 0x0800 ? static_cast<long>(off + 2) : -1;
    }
    case DLT_LINUX_SLL:
      return n >= 16 && Load16(frame + 14) == 0x0800 ? 16 : -1;
    case DLT_LINUX_SLL2:
      return n >= 20 && Load16(frame) == 0x0800 ? 20 : -1;
    case DLT_NULL:
    case DLT_LOOP: {
      if (n < 4) return -1;
      // The family word is in the writer's byte order (DLT_NULL) or big-endian (DLT_LOOP).
      const uint32_t be = Load32(frame);
      const uint32_t le =
          static_cast<uint32_t>(frame[3]) << 24 | frame[2] << 16 | frame[1] << 8 | frame[0];
      return be == 2 || le == 2 ? 4 : -1;
    }
    default:
      return -1;
  }
}

bool Parse(int dlt, const pcap_pkthdr& h, const uint8_t* frame, Datagram& d) {
  const long ip = IpOffset(dlt, frame, h.caplen);
  if (ip < 0) return false;
  const uint8_t* p = frame + ip;
  const size_t n = h.caplen - static_cast<size_t>(ip);
  if (n < kIpHeader || (p[0] >> 4) != 4 || p[9] != 17) return false;
  const size_t ihl = static_cast<size_t>(p[0] & 0x0F) * 4;
  if (ihl < kIpHeader || n < ihl + kUdpHeader) return false;
  if ((Load16(p + 6) & 0x3FFF) != 0) return false;  // a fragment
  const uint8_t* u = p + ihl;
  const uint16_t udp_length = Load16(u + 4);
  if (udp_length < kUdpHeader) return false;
  d.time_us = static_cast<int64_t>(h.ts.tv_sec) * 1000000 + h.ts.tv_usec;
  d.from = {Load32(p + 12), Load16(u)};
  d.to = {Load32(p + 16), Load16(u + 2)};
  d.length = udp_length - kUdpHeader;
  const size_t captured = n - ihl - kUdpHeader;
  const size_t take = captured < d.length ? captured : d.length;
  d.payload.assign(u + kUdpHeader, u + kUdpHeader + take);
  return true;
}

}  // namespace

std::string ToString(const Endpoint& e) {
  in_addr a{};
  a.s_addr = htonl(e.address);
  char text[INET_ADDRSTRLEN] = {0};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return std::string(text) + ":" + std::to_string(e.port);
}

bool Writer::Open(const std::string& path, std::string& error) {
  Close();
  pcap_ = pcap_open_dead(DLT_RAW, 65535);
  if (pcap_ == nullptr) {
    error = "libpcap could not start a capture file";
    return false;
  }
  dumper_ = pcap_dump_open(pcap_, path.c_str());
  if (dumper_ == nullptr) {
    error = pcap_geterr(pcap_);
    pcap_close(pcap_);
    pcap_ = nullptr;
    return false;
  }
  // A recorder killed at once still leaves a capture that reads (with no datagrams).
  failed_ = pcap_dump_flush(dumper_) != 0;
  stopping_ = false;
  dirty_ = false;
  // The flusher takes no signals: they stay with the program's own threads.
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  try {
    flusher_ = std::thread([this] { FlushEveryHalfSecond(); });
  } catch (const std::system_error& e) {
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    Close();
    error = std::string("cannot start the thread that flushes the capture: ") + e.what();
    return false;
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return true;
}

void Writer::FlushEveryHalfSecond() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, std::chrono::milliseconds(500), [this] { return stopping_; });
    if (dirty_) {
      failed_ = pcap_dump_flush(dumper_) != 0 || failed_;
      dirty_ = false;
    }
  }
}

void Writer::Write(int64_t time_us, const Endpoint& from, const Endpoint& to,
                   const uint8_t* payload, size_t length) {
  if (dumper_ == nullptr) return;
  if (length > kMaxPayload) length = kMaxPayload;
  uint8_t* ip = packet_.data();
  uint8_t* udp = ip + kIpHeader;
  const size_t total = kIpHeader + kUdpHeader + length;
  ip[0] = 0x45;
  ip[1] = 0;
  Store16(ip + 2, static_cast<uint32_t>(total));
  Store16(ip + 4, ip_id_++);
  Store16(ip + 6, 0x4000);  // don't fragment
  ip[8] = 64;
  ip[9] = 17;
  Store16(ip + 10, 0);
  Store32(ip + 12, from.address);
  Store32(ip + 16, to.address);
  Store16(ip + 10, HeaderChecksum(ip));
  Store16(udp, from.port);
  Store16(udp + 2, to.port);
  Store16(udp + 4, static_cast<uint32_t>(kUdpHeader + length));
  Store16(udp + 6, 0);  // no checksum: allowed over IPv4
  if (length > 0) std::memcpy(udp + kUdpHeader, payload, length);

  pcap_pkthdr h{};
  h.ts.tv_sec = static_cast<time_t>(time_us / 1000000);
  h.ts.tv_usec = static_cast<suseconds_t>(time_us % 1000000);
  h.caplen = h.len = static_cast<bpf_u_int32>(total);
  std::lock_guard<std::mutex> lock(mutex_);
  pcap_dump(reinterpret_cast<u_char*>(dumper_), &h, ip);
  dirty_ = true;
}

bool Writer::Close() {
  if (flusher_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    flusher_.join();
  }
  bool ok = !failed_;
  failed_ = false;
  if (dumper_ != nullptr) {
    ok = pcap_dump_flush(dumper_) == 0 && ok;
    ok = ferror(pcap_dump_file(dumper_)) == 0 && ok;
    pcap_dump_close(dumper_);
    dumper_ = nullptr;
  }
  if (pcap_ != nullptr) {
    pcap_close(pcap_);
    pcap_ = nullptr;
  }
  return ok;
}

bool Read(const std::string& path, std::vector<Datagram>& out, std::string& error,
          std::string& cut) {
  cut.clear();
  char message[PCAP_ERRBUF_SIZE] = {0};
  pcap_t* p = pcap_open_offline(path.c_str(), message);
  if (p == nullptr) {
    error = message;
    return false;
  }
  const int dlt = pcap_datalink(p);
  if (dlt != DLT_RAW && dlt != DLT_IPV4 && dlt != DLT_EN10MB && dlt != DLT_LINUX_SLL &&
      dlt != DLT_LINUX_SLL2 && dlt != DLT_NULL && dlt != DLT_LOOP) {
    error = std::string("link type ") +
            (pcap_datalink_val_to_name(dlt) ? pcap_datalink_val_to_name(dlt) : "?") +
            " is not one of raw IPv4, Ethernet, Linux cooked or loopback";
    pcap_close(p);
    return false;
  }
  pcap_pkthdr* h = nullptr;
  const u_char* frame = nullptr;
  size_t records = 0;
  int r;
  while ((r = pcap_next_ex(p, &h, &frame)) == 1) {
    ++records;
    Datagram d;
    if (Parse(dlt, *h, frame, d)) out.push_back(std::move(d));
  }
  bool ok = r == PCAP_ERROR_BREAK;
  if (!ok && std::feof(pcap_file(p)) != 0) {
    // The file ended inside a record: what a recorder stopped while writing leaves.
    ok = true;
    cut = "cut off inside record " + std::to_string(records + 1) +
          " (its recorder stopped while writing it): the " + std::to_string(records) +
          " whole records before it are read";
  }
  if (!ok) error = pcap_geterr(p);
  pcap_close(p);
  return ok;
}

}  // namespace torvane_pcap
