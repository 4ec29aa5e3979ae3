// The datagram classification on byte-exact images whose checksums were computed apart from
// any implementation here (a bitwise reference, itself held to the published check values).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "datagram/classify.h"

namespace {

using torvane_datagram::Checksum;
using torvane_datagram::ChecksumFunctions;
using torvane_datagram::Classified;
using torvane_datagram::Classify;
using torvane_datagram::ClassifyFrame;
using torvane_datagram::Kind;

// The word-wise CRC as defined: MSB first, initial all ones, no final XOR, little-endian words.
uint32_t ReferenceCrc(const uint32_t* words, uint32_t count) {
  const auto* p = reinterpret_cast<const uint8_t*>(words);
  uint32_t crc = 0xFFFFFFFFu;
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t w = torvane_datagram::LoadLE32(p + 4 * k);
    for (int b = 31; b >= 0; --b) {
      const bool top = (crc >> 31) != 0;
      crc <<= 1;
      if (top != (((w >> b) & 1u) != 0)) crc ^= 0x04C11DB7u;
    }
  }
  return crc;
}

// XOR with the mask, then rotate right by 8; and its inverse.
uint32_t Scramble(uint32_t x) {
  x ^= 0x5B3D7E91u;
  return x >> 8 | x << 24;
}
uint32_t Unscramble(uint32_t y) {
  return (y << 8 | y >> 24) ^ 0x5B3D7E91u;
}

const ChecksumFunctions kReference{ReferenceCrc, Unscramble};

// A datagram of `length` bytes: header, level flag, SN bytes 01..08, a pattern, and `checksum`
// in the last four bytes.
std::vector<uint8_t> Image(size_t length, uint8_t level, uint32_t checksum) {
  std::vector<uint8_t> image(length);
  for (size_t i = 0; i < length; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  image[0] = 0xFE;
  image[1] = 0xEF;
  image[2] = level;
  for (uint8_t i = 0; i < 8; ++i) image[4 + i] = static_cast<uint8_t>(i + 1);
  torvane_datagram::StoreLE32(image.data() + length - 4, checksum);
  return image;
}

Classified Of(const std::vector<uint8_t>& image) {
  return Classify(image.data(), image.size(), kReference);
}

// Check values of the images above, computed by an independent bitwise implementation.
struct Known {
  Kind kind;
  size_t length;
  uint8_t level;
  uint32_t plain, scrambled;
};
const Known kKnown[] = {
    {Kind::kHighCmd, 129, 0xEE, 0x112A1D51u, 0xC04A1763u},
    {Kind::kHighState, 1087, 0xEE, 0x215B94CDu, 0x5C7A66EAu},
    {Kind::kLowCmd, 614, 0xFF, 0x071A9B27u, 0xB65C27E5u},
    {Kind::kLowState, 807, 0xFF, 0xEC16A886u, 0x17B72BD6u},
};

}  // namespace

TEST(DatagramClassify, ReferenceHoldsThePublishedCheckValues) {
  const uint32_t zero = 0;
  EXPECT_EQ(ReferenceCrc(nullptr, 0), 0xFFFFFFFFu);
  EXPECT_EQ(ReferenceCrc(&zero, 1), 0xC704DD7Bu);
  uint32_t text[2];
  std::memcpy(text, "abcdefgh", 8);
  EXPECT_EQ(ReferenceCrc(text, 2), 0x18C4859Cu);
  for (uint32_t x : {0u, 1u, 0xFFFFFFFFu, 0x12345678u}) EXPECT_EQ(Unscramble(Scramble(x)), x);
}

TEST(DatagramClassify, EachKindWithEachChecksumForm) {
  for (const Known& k : kKnown) {
    SCOPED_TRACE(k.length);
    const bool high = k.level == 0xEE;
    const Classified plain = Of(Image(k.length, k.level, k.plain));
    EXPECT_EQ(plain.kind, k.kind);
    EXPECT_TRUE(plain.header);
    EXPECT_EQ(plain.level_flag, k.level);
    EXPECT_EQ(plain.checksum, Checksum::kGood);
    EXPECT_EQ(plain.sn, 0x0807060504030201u);
    // A high-level datagram passes scrambled too (a state always carries it so); a low-level
    // one never does.
    const Classified scrambled = Of(Image(k.length, k.level, k.scrambled));
    EXPECT_EQ(scrambled.kind, k.kind);
    EXPECT_EQ(scrambled.checksum, high ? Checksum::kGoodScrambled : Checksum::kBad);
    EXPECT_EQ(Of(Image(k.length, k.level, k.plain ^ 0x100)).checksum, Checksum::kBad);
  }
}

TEST(DatagramClassify, OnlyTheCoveredWordsCount) {
  for (const Known& k : kKnown) {
    SCOPED_TRACE(k.length);
    const size_t covered = 4 * (k.length / 4 - 1);
    // Bytes between the covered words and the checksum are covered by nothing.
    for (size_t i = covered; i < k.length - 4; ++i) {
      auto image = Image(k.length, k.level, k.plain);
      image[i] ^= 0xFF;
      EXPECT_EQ(Of(image).checksum, Checksum::kGood) << i;
    }
    for (size_t i : {size_t{3}, size_t{12}, covered - 1}) {
      auto image = Image(k.length, k.level, k.plain);
      image[i] ^= 0x01;
      EXPECT_EQ(Of(image).checksum, Checksum::kBad) << i;
    }
  }
}

TEST(DatagramClassify, AnyAlignment) {
  const auto image = Image(807, 0xFF, 0xEC16A886u);
  std::vector<uint8_t> shifted(1, 0);  // the image at an odd address
  shifted.insert(shifted.end(), image.begin(), image.end());
  const Classified c = Classify(shifted.data() + 1, image.size(), kReference);
  EXPECT_EQ(c.kind, Kind::kLowState);
  EXPECT_EQ(c.checksum, Checksum::kGood);
  EXPECT_EQ(c.sn, 0x0807060504030201u);
}

TEST(DatagramClassify, KindByHeaderLevelAndLength) {
  for (size_t n = 0; n <= 1100; ++n) {
    std::vector<uint8_t> d(n, 0);
    for (uint8_t level : {0xEE, 0xFF, 0x12}) {
      if (n >= 3) {
        d[0] = 0xFE;
        d[1] = 0xEF;
        d[2] = level;
      }
      const Classified c = Classify(d.data(), n, kReference);
      Kind expected = Kind::kWrongLength;
      if (level == 0xEE && n == 129) expected = Kind::kHighCmd;
      if (level == 0xEE && n == 1087) expected = Kind::kHighState;
      if (level == 0xFF && n == 614) expected = Kind::kLowCmd;
      if (level == 0xFF && n == 807) expected = Kind::kLowState;
      const bool known = n == 129 || n == 1087 || n == 614 || n == 807;
      // A level flag of neither level is no frame: by length a bad header, else foreign.
      if (level == 0x12 || n < 3) expected = known ? Kind::kBadHeader : Kind::kForeign;
      ASSERT_EQ(c.kind, expected) << n << " " << int{level};
      EXPECT_EQ(c.header, n >= 3);
      EXPECT_EQ(c.level_flag, n >= 3 ? level : 0);
      if (!torvane_datagram::IsDatagram(c.kind)) {
        EXPECT_EQ(c.checksum, Checksum::kNone);
        EXPECT_EQ(c.sn, 0u);
      }
    }
  }
}

TEST(DatagramClassify, HeaderBytes) {
  auto image = Image(129, 0xEE, 0x112A1D51u);
  image[1] = 0xEE;  // FE EE: no header
  Classified c = Of(image);
  EXPECT_FALSE(c.header);
  EXPECT_EQ(c.kind, Kind::kBadHeader);
  EXPECT_EQ(c.checksum, Checksum::kNone);
  image = Image(129, 0xEE, 0x112A1D51u);
  image[0] = 0x47;
  EXPECT_EQ(Of(image).kind, Kind::kBadHeader);
  const uint8_t two[2] = {0xFE, 0xEF};
  c = Classify(two, 2, kReference);
  EXPECT_FALSE(c.header);
  EXPECT_EQ(c.kind, Kind::kForeign);
  EXPECT_EQ(Classify(nullptr, 0, kReference).kind, Kind::kForeign);
}

// The checksum is computed over exactly (n >> 2) - 1 words from the first byte, once.
uint32_t g_calls, g_words;
const void* g_data;
uint32_t CountingCrc(const uint32_t* words, uint32_t count) {
  ++g_calls;
  g_words = count;
  g_data = words;
  return 0;
}
uint32_t Identity(uint32_t v) {
  return v;
}

TEST(DatagramClassify, CoverageRule) {
  const ChecksumFunctions counting{CountingCrc, Identity};
  for (size_t n : {4u, 5u, 7u, 8u, 129u, 614u, 807u, 1087u}) {
    std::vector<uint8_t> d(n, 0xAA);
    g_calls = 0;
    const auto m = torvane_datagram::MatchChecksum(d.data(), n, counting);
    EXPECT_EQ(g_calls, 1u);
    EXPECT_EQ(g_words, n / 4 - 1) << n;
    EXPECT_EQ(g_data, d.data());
    EXPECT_FALSE(m.plain);
  }
  g_calls = 0;
  const uint8_t three[3] = {0xFE, 0xEF, 0xEE};
  const auto m = torvane_datagram::MatchChecksum(three, 3, counting);
  EXPECT_EQ(g_calls, 0u);
  EXPECT_FALSE(m.plain || m.scrambled);
  // Nothing but the four kinds is checked at all.
  const std::vector<uint8_t> wrong(130, 0);
  Classify(wrong.data(), wrong.size(), counting);
  EXPECT_EQ(g_calls, 0u);
}

TEST(DatagramClassify, LittleEndianWords) {
  uint8_t bytes[5] = {0, 0x78, 0x56, 0x34, 0x12};
  EXPECT_EQ(torvane_datagram::LoadLE32(bytes + 1), 0x12345678u);
  torvane_datagram::StoreLE32(bytes + 1, 0xA1B2C3D4u);
  const uint8_t expected[5] = {0, 0xD4, 0xC3, 0xB2, 0xA1};
  EXPECT_EQ(std::memcmp(bytes, expected, 5), 0);
}
