#include <gtest/gtest.h>

#include <pthread.h>

#include <cstring>
#include <random>
#include <vector>

#include "torvane/checksum.h"
#include "torvane/records.h"
#include "torvane_test/datagrams.h"
#include "torvane_test/reference_checksum.h"
#include "torvane_testing/checksum_path.h"

using namespace TORVANE;
using torvane_test::BitwiseCrc;

namespace {
uint32_t CrcOfBytes(const uint8_t* p, uint32_t words) {
  return crc32(reinterpret_cast<const uint32_t*>(p), words);
}
}  // namespace

TEST(Crc32, CheckValues) {
  EXPECT_EQ(crc32(nullptr, 0), 0xFFFFFFFFu);  // len 0 reads nothing
  const uint32_t zero = 0;
  EXPECT_EQ(crc32(&zero, 1), 0xC704DD7Bu);
  const char text[] = "abcdefgh";
  EXPECT_EQ(CrcOfBytes(reinterpret_cast<const uint8_t*>(text), 2), 0x18C4859Cu);
}

// CRC-32/MPEG-2 over the byte stream with each 4-byte group reversed, a second independent form.
TEST(Crc32, EqualsMpeg2OverReversedGroups) {
  std::mt19937 rng(7);
  std::vector<uint8_t> data(64);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t g = 0; g < data.size(); g += 4) {
    for (int k = 3; k >= 0; --k) {
      crc ^= static_cast<uint32_t>(data[g + k]) << 24;
      for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
  }
  EXPECT_EQ(CrcOfBytes(data.data(), 16), crc);
}

TEST(Crc32, MatchesBitwiseAtEveryLengthAndAlignment) {
  std::mt19937 rng(12345);
  std::vector<uint8_t> storage(1100 + 8);
  for (auto& b : storage) b = static_cast<uint8_t>(rng());
  for (uint32_t words = 0; words <= 272; ++words) {
    for (size_t offset = 0; offset < 4; ++offset) {
      const uint8_t* p = storage.data() + offset;
      ASSERT_EQ(CrcOfBytes(p, words), BitwiseCrc(p, words))
          << "words " << words << " offset " << offset;
    }
  }
}

// Both forms, the folding one where the processor has it and the portable table, agree.
TEST(Crc32, PortableFormAgrees) {
  std::mt19937 rng(77);
  std::vector<uint8_t> data(1100);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (uint32_t words : {0u, 1u, 7u, 8u, 15u, 16u, 31u, 32u, 33u, 152u, 200u, 270u, 274u}) {
    const auto* p = reinterpret_cast<const uint32_t*>(data.data() + 3);
    ASSERT_EQ(crc32(p, words), detail::crc32_table(p, words)) << words;
    ASSERT_EQ(detail::crc32_table(p, words), BitwiseCrc(data.data() + 3, words)) << words;
  }
}

TEST(Crc32, OddAddressGivesSameAsAlignedCopy) {
  std::vector<uint8_t> buf(1087 + 1);
  std::mt19937 rng(99);
  for (auto& b : buf) b = static_cast<uint8_t>(rng());
  alignas(4) uint8_t aligned[1088];
  std::memcpy(aligned, buf.data() + 1, 1087);
  EXPECT_EQ(CrcOfBytes(buf.data() + 1, 270), CrcOfBytes(aligned, 270));
}

TEST(Crc32, CoverageRuleLeavesTailBytesUncovered) {
  struct Case {
    int length, words, first_uncovered;
  };
  for (const Case c :
       {Case{129, 31, 124}, Case{1087, 270, 1080}, Case{614, 152, 608}, Case{807, 200, 800}}) {
    EXPECT_EQ(covered_words(c.length), static_cast<uint32_t>(c.words));
    std::vector<uint8_t> rec(c.length, 0x11);
    const uint32_t before = CrcOfBytes(rec.data(), covered_words(c.length));
    for (int i = c.first_uncovered; i < c.length; ++i) rec[i] ^= 0xFF;  // gap and crc itself
    EXPECT_EQ(CrcOfBytes(rec.data(), covered_words(c.length)), before) << c.length;
    rec[c.first_uncovered - 1] ^= 0x01;
    EXPECT_NE(CrcOfBytes(rec.data(), covered_words(c.length)), before) << c.length;
  }
  EXPECT_EQ(covered_words(3), 0u);
  EXPECT_EQ(covered_words(-8), 0u);
}

TEST(Scramble, ByteSwap) {
  EXPECT_EQ(byte_swap(0x44332211u, 0, 3), 0x11332244u);
  EXPECT_EQ(byte_swap(0x44332211u, 1, 2), 0x44223311u);
  for (uint8_t i = 0; i < 4; ++i) {
    EXPECT_EQ(byte_swap(0xA1B2C3D4u, i, i), 0xA1B2C3D4u);
    for (uint8_t j = 0; j < 4; ++j)
      EXPECT_EQ(byte_swap(0xA1B2C3D4u, i, j), byte_swap(0xA1B2C3D4u, j, i));
  }
  EXPECT_EQ(byte_swap(0xA1B2C3D4u, 0, 4), 0xA1B2C3D4u);  // out-of-range index changes nothing
}

TEST(Scramble, EncryptIsMaskThenRotateRightAndDecryptUndoesIt) {
  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  std::mt19937 rng(3);
  std::vector<uint32_t> values = {0u, 0xFFFFFFFFu, 0x5B3D7E91u, 1u};
  for (int i = 0; i < 1000; ++i) values.push_back(rng());
  for (uint32_t v : values) {
    uint8_t buf[9] = {1, 2, 3, 4, 5, 0, 0, 0, 0};
    std::memcpy(buf + 5, &v, 4);
    encryptCRC(buf, &lock, sizeof buf);
    uint32_t scrambled;
    std::memcpy(&scrambled, buf + 5, 4);
    const uint32_t masked = v ^ 0x5B3D7E91u;
    EXPECT_EQ(scrambled, (masked >> 8) | (masked << 24));
    EXPECT_EQ(decryptCRC(scrambled), v);
    EXPECT_EQ(buf[0] + buf[1] + buf[2] + buf[3] + buf[4], 15);  // only the last word changed
  }
  // The lock is released again: a second call does not deadlock, and trylock succeeds.
  EXPECT_EQ(pthread_mutex_trylock(&lock), 0);
  pthread_mutex_unlock(&lock);
  uint8_t tiny[3] = {7, 7, 7};
  encryptCRC(tiny, &lock, 3);  // too short to hold a checksum: untouched
  EXPECT_EQ(tiny[0] + tiny[1] + tiny[2], 21);
}
