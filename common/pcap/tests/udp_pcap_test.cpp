// The pcap writer and reader: byte-exact records, a file cut anywhere inside its last record
// (what a killed recorder leaves), and a file read while its writer is still open.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "pcap/udp_pcap.h"

namespace {

using torvane_pcap::Datagram;
using torvane_pcap::Endpoint;

constexpr uint32_t kLoopback = 0x7F000001;
const Endpoint kClient{kLoopback, 40001}, kRobot{kLoopback, 8082};

class Scratch {
 public:
  Scratch() {
    char dir[] = "/tmp/torvane-pcap-XXXXXX";
    dir_ = mkdtemp(dir) != nullptr ? dir : "";
  }
  ~Scratch() {
    for (const auto& f : files_) std::remove(f.c_str());
    rmdir(dir_.c_str());
  }
  std::string File(const std::string& name) {
    files_.push_back(dir_ + "/" + name);
    return files_.back();
  }

 private:
  std::string dir_;
  std::vector<std::string> files_;
};

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Put(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<uint8_t> Payload(size_t n, uint8_t seed) {
  std::vector<uint8_t> p(n);
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(seed + 3 * i);
  return p;
}

// Three datagrams: 4 bytes, none, and a 129-byte last one.
void WriteThree(const std::string& path) {
  torvane_pcap::Writer w;
  std::string error;
  ASSERT_TRUE(w.Open(path, error)) << error;
  const auto a = Payload(4, 1), c = Payload(129, 9);
  w.Write(1700000000123456, kClient, kRobot, a.data(), a.size());
  w.Write(1700000001000000, kRobot, kClient, nullptr, 0);
  w.Write(1700000002999999, kRobot, kClient, c.data(), c.size());
  ASSERT_TRUE(w.Close());
}

struct Reading {
  bool ok;
  std::vector<Datagram> datagrams;
  std::string error, cut;
};

Reading ReadFile(const std::string& path) {
  Reading r;
  r.ok = torvane_pcap::Read(path, r.datagrams, r.error, r.cut);
  return r;
}

}  // namespace

TEST(Pcap, RecordsAreByteExactAndReadBack) {
  Scratch s;
  const std::string path = s.File("three.pcap");
  WriteThree(path);
  const std::string bytes = Contents(path);
  // The file header (host order: a little-endian host here), then the first record: its header
  // (seconds, microseconds, captured and original length), IPv4 with its header checksum
  // computed apart, UDP without a checksum, the payload.
  const std::string expected =
      std::string("\xD4\xC3\xB2\xA1\x02\x00\x04\x00", 8) + std::string(8, '\0') +
      std::string("\xFF\xFF\x00\x00\x65\x00\x00\x00", 8) +
      std::string("\x00\xF1\x53\x65\x40\xE2\x01\x00\x20\x00\x00\x00\x20\x00\x00\x00", 16) +
      std::string("\x45\x00\x00\x20\x00\x00\x40\x00\x40\x11\x3C\xCB\x7F\x00\x00\x01", 16) +
      std::string("\x7F\x00\x00\x01\x9C\x41\x1F\x92\x00\x0C\x00\x00\x01\x04\x07\x0A", 16);
  ASSERT_GE(bytes.size(), expected.size());
  EXPECT_EQ(bytes.substr(0, expected.size()), expected);
  EXPECT_EQ(bytes.size(), 24u + 3 * (16 + 28) + 4 + 0 + 129);

  const Reading r = ReadFile(path);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.cut, "");
  ASSERT_EQ(r.datagrams.size(), 3u);
  EXPECT_EQ(r.datagrams[0].time_us, 1700000000123456);
  EXPECT_EQ(r.datagrams[0].from, kClient);
  EXPECT_EQ(r.datagrams[0].to, kRobot);
  EXPECT_EQ(r.datagrams[0].payload, Payload(4, 1));
  EXPECT_EQ(r.datagrams[1].length, 0u);
  EXPECT_TRUE(r.datagrams[1].payload.empty());
  EXPECT_EQ(r.datagrams[2].time_us, 1700000002999999);
  EXPECT_EQ(r.datagrams[2].from, kRobot);
  EXPECT_EQ(r.datagrams[2].payload, Payload(129, 9));
  EXPECT_EQ(r.datagrams[2].length, 129u);
  EXPECT_EQ(torvane_pcap::ToString(kRobot), "127.0.0.1:8082");
}

// Regression: a capture whose recorder was killed mid-record used to give nothing but
// "truncated dump file".
TEST(Pcap, ACutInsideTheLastRecordIsReadUpToTheCut) {
  Scratch s;
  const std::string whole_path = s.File("whole.pcap"), cut_path = s.File("cut.pcap");
  WriteThree(whole_path);
  const std::string whole = Contents(whole_path);
  const size_t last = whole.size() - (16 + 28 + 129);
  // At the record boundary the file is whole, with two records.
  Put(cut_path, whole.substr(0, last));
  Reading r = ReadFile(cut_path);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.cut, "");
  EXPECT_EQ(r.datagrams.size(), 2u);
  // Every cut inside the last record, its record header included.
  for (size_t n = last + 1; n < whole.size(); ++n) {
    Put(cut_path, whole.substr(0, n));
    r = ReadFile(cut_path);
    ASSERT_TRUE(r.ok) << n << ": " << r.error;
    ASSERT_EQ(r.datagrams.size(), 2u) << n;
    EXPECT_EQ(r.datagrams[1].time_us, 1700000001000000) << n;
    EXPECT_EQ(r.cut,
              "cut off inside record 3 (its recorder stopped while writing it): the 2 whole "
              "records before it are read")
        << n;
  }
}

TEST(Pcap, WhatIsNoCaptureIsAnError) {
  Scratch s;
  const std::string path = s.File("bad.pcap");
  Reading r = ReadFile(s.File("missing.pcap"));
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error, "");
  Put(path, "this is not a capture\n");
  r = ReadFile(path);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error, "");
  // Cut inside the file header: nothing to read.
  WriteThree(path);
  const std::string whole = Contents(path);
  for (size_t n = 0; n < 24; ++n) {
    Put(path, whole.substr(0, n));
    r = ReadFile(path);
    EXPECT_FALSE(r.ok) << n;
    EXPECT_EQ(r.cut, "") << n;
  }
  // A record that claims more than a capture can hold is damage, not a cut.
  std::string damaged =
      whole.substr(0, 24 + 8) + std::string("\xFF\xFF\xFF\x7F", 4) + whole.substr(24 + 12);
  Put(path, damaged);
  r = ReadFile(path);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error, "");
  EXPECT_EQ(r.cut, "");
}

TEST(Pcap, AFileIsReadableWhileItsWriterIsOpen) {
  Scratch s;
  const std::string path = s.File("open.pcap");
  torvane_pcap::Writer w;
  std::string error;
  ASSERT_TRUE(w.Open(path, error)) << error;
  Reading r = ReadFile(path);  // the file header is there at once
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.datagrams.empty());
  const auto p = Payload(807, 5);
  for (int i = 0; i < 5; ++i) w.Write(1700000000000000 + i, kRobot, kClient, p.data(), p.size());
  // The writer flushes within a second of its own accord: wait for it, up to ten.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  do {
    r = ReadFile(path);
    if (r.ok && r.datagrams.size() == 5) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (std::chrono::steady_clock::now() < give_up);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.datagrams.size(), 5u);
  EXPECT_EQ(r.cut, "");
  EXPECT_TRUE(w.is_open());
  EXPECT_EQ(r.datagrams[4].payload, p);
  EXPECT_TRUE(w.Close());
  EXPECT_FALSE(w.is_open());
  EXPECT_TRUE(w.Close());  // twice is harmless
}

TEST(Pcap, AWriterCanBeOpenedAgain) {
  Scratch s;
  const std::string first = s.File("first.pcap"), second = s.File("second.pcap");
  torvane_pcap::Writer w;
  std::string error;
  ASSERT_TRUE(w.Open(first, error));
  const auto p = Payload(129, 2);
  w.Write(1, kClient, kRobot, p.data(), p.size());
  ASSERT_TRUE(w.Open(second, error));  // closes the first
  w.Write(2, kClient, kRobot, p.data(), p.size());
  w.Write(3, kClient, kRobot, p.data(), p.size());
  ASSERT_TRUE(w.Close());
  EXPECT_EQ(ReadFile(first).datagrams.size(), 1u);
  EXPECT_EQ(ReadFile(second).datagrams.size(), 2u);
  EXPECT_FALSE(w.Open(s.File("no/such/dir.pcap"), error));
  EXPECT_NE(error, "");
}
