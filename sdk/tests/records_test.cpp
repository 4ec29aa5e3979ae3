#include <gtest/gtest.h>

#include <cstring>

#include "torvane/udp.h"
#include "torvane_test/datagrams.h"
#include "torvane_test/reference_checksum.h"

using namespace TORVANE;
using torvane_test::Bytes;

TEST(Constants, ValuesAndBitPatterns) {
  EXPECT_EQ(HEAD[0], 0xFE);
  EXPECT_EQ(HEAD[1], 0xEF);
  EXPECT_EQ(HIGH_CMD_LENGTH, 129);
  EXPECT_EQ(HIGH_STATE_LENGTH, 1087);
  EXPECT_EQ(LOW_CMD_LENGTH, 614);
  EXPECT_EQ(LOW_STATE_LENGTH, 807);
  uint32_t bits;
  std::memcpy(&bits, &POSITION_STOP, 4);
  EXPECT_EQ(bits, 0x4EFFD2B9u);
  std::memcpy(&bits, &VELOCITY_STOP, 4);
  EXPECT_EQ(bits, 0x467A0000u);
}

TEST(Records, ValueInitialisedIsAllZero) {
  HighState s{};
  for (uint8_t b : Bytes(s)) ASSERT_EQ(b, 0);
  LowCmd c{};
  for (uint8_t b : Bytes(c)) ASSERT_EQ(b, 0);
}

TEST(InitCmdData, HighCmdImage) {
  UDP udp(0, 129, 1087, false, nonBlock, true);  // deferred: no socket
  HighCmd cmd{};
  udp.InitCmdData(cmd);
  const auto b = Bytes(cmd);
  EXPECT_EQ(b[0], 0xFE);
  EXPECT_EQ(b[1], 0xEF);
  EXPECT_EQ(b[2], 0xEE);
  for (size_t i = 3; i < b.size(); ++i) ASSERT_EQ(b[i], 0) << "byte " << i;
}

TEST(InitCmdData, LowCmdImage) {
  UDP udp(0, 129, 1087, false, nonBlock, true);  // deferred: no socket
  LowCmd cmd{};
  udp.InitCmdData(cmd);
  const auto b = Bytes(cmd);
  ASSERT_EQ(b.size(), 734u);
  EXPECT_EQ(b[0], 0xFE);
  EXPECT_EQ(b[1], 0xEF);
  EXPECT_EQ(b[2], 0xFF);
  for (size_t i = 3; i < 22; ++i) ASSERT_EQ(b[i], 0) << "byte " << i;
  const uint8_t q[4] = {0xB9, 0xD2, 0xFF, 0x4E};
  const uint8_t dq[4] = {0x00, 0x00, 0x7A, 0x46};
  for (int i = 0; i < 20; ++i) {
    const size_t base = 22 + 33 * i;
    ASSERT_EQ(b[base], 0x0A) << "slot " << i;
    for (int k = 0; k < 4; ++k) {
      ASSERT_EQ(b[base + 1 + k], q[k]) << "slot " << i;
      ASSERT_EQ(b[base + 5 + k], dq[k]) << "slot " << i;
    }
    for (size_t k = base + 9; k <= base + 32; ++k) ASSERT_EQ(b[k], 0) << "byte " << k;
  }
  EXPECT_EQ(b[649], 0x0A);  // the last slot's mode
  for (size_t i = 682; i < b.size(); ++i) ASSERT_EQ(b[i], 0) << "byte " << i;
}

TEST(InitCmdData, LeavesUnrelatedFieldsAndIsIdempotent) {
  UDP udp(0, 129, 1087, false, nonBlock, true);  // deferred: no socket
  LowCmd cmd{};
  std::memset(&cmd, 0x5A, sizeof cmd);
  udp.InitCmdData(cmd);
  const auto once = Bytes(cmd);
  for (size_t i = 3; i < 22; ++i) EXPECT_EQ(once[i], 0x5A);  // frameReserve .. bandWidth
  for (size_t i = 0; i < 20; ++i) {
    for (size_t k = 22 + 33 * i + 21; k < 22 + 33 * (i + 1); ++k) ASSERT_EQ(once[k], 0x5A);
  }
  for (size_t i = 682; i < once.size(); ++i) EXPECT_EQ(once[i], 0x5A);  // bms .. crc
  // motorCmd[19].Kd at 666-669, zeroed; its reserve at 670-681 untouched; bms right after.
  for (size_t i = 666; i < 670; ++i) EXPECT_EQ(once[i], 0);
  udp.InitCmdData(cmd);
  EXPECT_EQ(Bytes(cmd), once);

  HighCmd high{};
  std::memset(&high, 0x33, sizeof high);
  udp.InitCmdData(high);
  const auto hb = Bytes(high);
  for (size_t i = 3; i < hb.size(); ++i) ASSERT_EQ(hb[i], 0x33);
}
