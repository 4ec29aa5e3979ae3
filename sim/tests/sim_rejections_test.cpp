// The emulator's judgement of command datagrams, on byte images with independently computed
// checksums, and the wording and rate of its rejection lines.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "program/rejections.h"
#include "torvane_test/datagrams.h"
#include "torvane_test/reference_checksum.h"

using torvane_sim::Judge;
using torvane_sim::Reason;
using torvane_sim::RejectionLog;
using torvane_sim::Verdict;

namespace {

// A command image of `length` bytes: header, level flag, a pattern, the plain checksum (or the
// scrambled one: XOR 0x5B3D7E91, rotate right by 8).
std::vector<uint8_t> Command(int length, uint8_t level, bool scrambled = false) {
  std::vector<uint8_t> image(length);
  for (int i = 0; i < length; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  image[0] = 0xFE;
  image[1] = 0xEF;
  image[2] = level;
  uint32_t crc = torvane_test::BitwiseCrc(image.data(), static_cast<uint32_t>(length / 4 - 1));
  if (scrambled) {
    crc ^= 0x5B3D7E91u;
    crc = (crc >> 8) | (crc << 24);
  }
  for (int k = 0; k < 4; ++k) image[length - 4 + k] = static_cast<uint8_t>(crc >> (8 * k));
  return image;
}

Reason ReasonOf(const std::vector<uint8_t>& image, bool high) {
  return Judge(image.data(), static_cast<int>(image.size()), static_cast<int>(image.size()), high)
      .reason;
}

}  // namespace

TEST(SimRejections, ValidCommandsOfEachLevel) {
  EXPECT_EQ(ReasonOf(Command(129, 0xEE), true), Reason::kNone);
  EXPECT_EQ(ReasonOf(Command(129, 0xEE, true), true), Reason::kNone);  // as a controller sends
  EXPECT_EQ(ReasonOf(Command(614, 0xFF), false), Reason::kNone);
  EXPECT_EQ(ReasonOf(Command(614, 0xFF, true), false), Reason::kBadChecksum);
}

TEST(SimRejections, EachReason) {
  // The other level's command: named by its level flag, whatever its length.
  const Verdict low_at_high = [] {
    const auto image = Command(614, 0xFF);
    return Judge(image.data(), 614, 614, true);
  }();
  EXPECT_EQ(low_at_high.reason, Reason::kWrongLevel);
  EXPECT_EQ(low_at_high.level, 0xFF);
  EXPECT_EQ(low_at_high.length, 614);
  EXPECT_EQ(ReasonOf(Command(129, 0xEE), false), Reason::kWrongLevel);

  auto image = Command(129, 0xEE);
  image[1] = 0xEE;
  EXPECT_EQ(ReasonOf(image, true), Reason::kBadHeader);
  EXPECT_EQ(ReasonOf(Command(128, 0xEE), true), Reason::kWrongLength);
  EXPECT_EQ(ReasonOf(Command(133, 0xEE), true), Reason::kWrongLength);
  image = Command(129, 0xEE);
  image[60] ^= 1;
  EXPECT_EQ(ReasonOf(image, true), Reason::kBadChecksum);
}

TEST(SimRejections, HostileSizes) {
  const uint8_t two[2] = {0xFE, 0xEF};
  EXPECT_EQ(Judge(two, 2, 2, true).reason, Reason::kBadHeader);
  EXPECT_EQ(Judge(two, 0, 0, false).reason, Reason::kBadHeader);
  // Longer than what was held (the peek buffer): judged by the real length, never read past.
  const auto image = Command(129, 0xEE);
  EXPECT_EQ(Judge(image.data(), 129, 70000, true).reason, Reason::kWrongLength);
  EXPECT_EQ(Judge(image.data(), 100, 129, true).reason, Reason::kWrongLength);
}

TEST(SimRejections, LinesSayWhyAndAreRateLimited) {
  RejectionLog log(true);
  const auto image = Command(614, 0xFF);
  const Verdict v = Judge(image.data(), 614, 614, true);
  EXPECT_EQ(log.Describe(v),
            "rejected 614-byte datagram with level flag 0xFF: this emulator is high level");

  fflush(stdout);
  char path[] = "/tmp/sim_rejections_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const int saved = dup(1);
  dup2(fd, 1);
  for (int i = 0; i < 1000; ++i) log.Note(v, 10.0 + i * 0.001);  // one second's flood
  log.Note(v, 11.5);
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  std::string out(4096, '\0');
  out.resize(static_cast<size_t>(pread(fd, out.data(), out.size(), 0)));
  close(fd);
  unlink(path);
  EXPECT_EQ(out,
            "torvane-sim: rejected 614-byte datagram with level flag 0xFF: this emulator is high "
            "level\n"
            "torvane-sim: rejected 614-byte datagram with level flag 0xFF: this emulator is high "
            "level (and 999 more rejected since the last such line)\n");
  EXPECT_EQ(log.total(), 1001u);
  EXPECT_EQ(log.Counts(), "wrong level 1001, wrong length 0, bad header 0, bad checksum 0");
}
