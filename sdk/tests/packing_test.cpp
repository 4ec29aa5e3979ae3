#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "torvane/checksum.h"
#include "torvane/packing.h"
#include "torvane/udp.h"
#include "torvane_test/datagrams.h"
#include "torvane_test/reference_checksum.h"

using namespace TORVANE;
using torvane_test::BitwiseCrc;
using torvane_test::Bytes;
using torvane_test::ReadLE32;

namespace {

int16_t PackedTau(float tau) {
  LowCmd cmd{};
  cmd.motorCmd[0].tau = tau;
  LowCmd_refine out{};
  refineCmd(out, cmd);
  return out.motorCmd[0].tau;
}

LowCmd RandomCmd(uint32_t seed) {
  LowCmd cmd;
  std::mt19937 rng(seed);
  auto* p = reinterpret_cast<uint8_t*>(&cmd);
  for (size_t i = 0; i < sizeof cmd; ++i) p[i] = static_cast<uint8_t>(rng());
  return cmd;
}

}  // namespace

TEST(RefineCmd, FreshCommandPacksSafeDefaults) {
  LowCmd cmd{};
  UDP udp(0, 129, 1087, false, nonBlock, true);  // deferred: no socket
  udp.InitCmdData(cmd);
  LowCmd_refine out{};
  refineCmd(out, cmd);
  const auto b = Bytes(out);
  ASSERT_EQ(b.size(), 614u);
  EXPECT_EQ(b[0], 0xFE);
  EXPECT_EQ(b[1], 0xEF);
  EXPECT_EQ(b[2], 0xFF);
  const uint8_t head[9] = {0x0A, 0xB9, 0xD2, 0xFF, 0x4E, 0x00, 0x00, 0x7A, 0x46};
  for (int i = 0; i < 20; ++i) {
    const size_t base = 22 + 27 * i;
    for (int k = 0; k < 9; ++k) ASSERT_EQ(b[base + k], head[k]) << "slot " << i;
    for (int k = 9; k < 27; ++k) ASSERT_EQ(b[base + k], 0) << "slot " << i;
  }
  for (size_t i = 562; i < 610; ++i) ASSERT_EQ(b[i], 0);
  EXPECT_EQ(ReadLE32(&b[610]), BitwiseCrc(b.data(), 152));
}

TEST(RefineCmd, ScaledFieldsTruncateTowardZero) {
  EXPECT_EQ(PackedTau(1.0f), 256);
  EXPECT_EQ(PackedTau(-1.0f), -256);
  EXPECT_EQ(PackedTau(0.999f), 255);  // toward zero, not rounded
  EXPECT_EQ(PackedTau(-0.999f), -255);
  EXPECT_EQ(PackedTau(127.99609375f), 32767);
  EXPECT_EQ(PackedTau(-128.0f), -32768);
  EXPECT_EQ(PackedTau(std::numeric_limits<float>::quiet_NaN()), 0);

  LowCmd cmd{};
  cmd.motorCmd[5].Kp = 20.0f;
  cmd.motorCmd[5].Kd = 0.5f;
  cmd.motorCmd[6].Kd = std::numeric_limits<float>::quiet_NaN();
  LowCmd_refine out{};
  refineCmd(out, cmd);
  const auto b = Bytes(out);
  // tau 1.0 is 0x00 0x01 on the wire; check raw bytes of slot 5's Kp (640) and Kd (8).
  const size_t s5 = 22 + 27 * 5;
  EXPECT_EQ(b[s5 + 11] | (b[s5 + 12] << 8), 640);
  EXPECT_EQ(b[s5 + 13] | (b[s5 + 14] << 8), 8);
  EXPECT_EQ(out.motorCmd[6].Kd, 0);
}

// A torque or gain a little beyond the wire's range used to wrap: tau 128.0 went out as -32768
// (-128 N m to the robot), Kp 1100 as -948, Kd 2100 as -1996. It now saturates.
TEST(RefineCmd, OutOfRangeTorqueAndGainsSaturateInsteadOfWrapping) {
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(PackedTau(128.0f), 32767);
  EXPECT_EQ(PackedTau(200.0f), 32767);
  EXPECT_EQ(PackedTau(-200.0f), -32768);
  EXPECT_EQ(PackedTau(-128.00390625f), -32768);
  EXPECT_EQ(PackedTau(1e30f), 32767);
  EXPECT_EQ(PackedTau(inf), 32767);
  EXPECT_EQ(PackedTau(-1e30f), -32768);
  EXPECT_EQ(PackedTau(-inf), -32768);

  LowCmd cmd{};
  for (auto& m : cmd.motorCmd) {
    m.Kp = 1100.0f;
    m.Kd = 2100.0f;
  }
  cmd.motorCmd[19].Kp = -1100.0f;
  cmd.motorCmd[19].Kd = -inf;
  LowCmd_refine out{};
  refineCmd(out, cmd);
  const auto b = Bytes(out);
  for (int i = 0; i < 19; ++i) {
    const size_t base = 22 + 27 * i;
    EXPECT_EQ(b[base + 11] | (b[base + 12] << 8), 0x7FFF) << "Kp slot " << i;
    EXPECT_EQ(b[base + 13] | (b[base + 14] << 8), 0x7FFF) << "Kd slot " << i;
  }
  EXPECT_EQ(out.motorCmd[19].Kp, -32768);
  EXPECT_EQ(out.motorCmd[19].Kd, -32768);
  EXPECT_EQ(out.crc, BitwiseCrc(b.data(), 152));
}

// Every value inside the 16-bit range packs exactly as the plain truncation always did.
TEST(RefineCmd, InRangeValuesPackBitForBitAsBefore) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> tau(-128.0f, 128.0f);
  for (int k = 0; k < 100000; ++k) {
    const float v = tau(rng);
    const double scaled = static_cast<double>(v) * 256.0;
    if (scaled <= -32769.0 || scaled >= 32768.0) continue;
    const int32_t truncated = static_cast<int32_t>(std::trunc(scaled));
    ASSERT_EQ(PackedTau(v), static_cast<int16_t>(std::clamp(truncated, -32768, 32767))) << v;
  }
  for (int32_t i = -32768; i <= 32767; ++i) {  // every wire value, on a step of 1/256
    ASSERT_EQ(PackedTau(static_cast<float>(i) / 256.0f), i);
  }
}

TEST(RefineCmd, CopiesEverythingElseAndIgnoresUserCrc) {
  LowCmd cmd = RandomCmd(1);
  for (auto& m : cmd.motorCmd) m.tau = m.Kp = m.Kd = 0.0f;
  LowCmd_refine out;
  std::memset(&out, 0xCC, sizeof out);
  refineCmd(out, cmd);
  const auto in = Bytes(cmd);
  const auto b = Bytes(out);
  EXPECT_EQ(std::memcmp(in.data(), b.data(), 22), 0);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(std::memcmp(&in[22 + 33 * i], &b[22 + 27 * i], 9), 0) << i;
    EXPECT_EQ(std::memcmp(&in[22 + 33 * i + 21], &b[22 + 27 * i + 15], 12), 0) << i;
  }
  EXPECT_EQ(std::memcmp(&in[682], &b[562], 48), 0);
  const uint32_t crc = out.crc;
  cmd.crc ^= 0xFFFFFFFFu;
  refineCmd(out, cmd);
  EXPECT_EQ(out.crc, crc);
}

TEST(RefineCmd, ChecksumCoversBytesBefore608Only) {
  LowCmd cmd = RandomCmd(2);
  LowCmd_refine out{};
  refineCmd(out, cmd);
  const uint32_t crc = out.crc;
  EXPECT_EQ(crc, BitwiseCrc(Bytes(out).data(), 152));
  cmd.reserve ^= 0xFFFF0000u;  // bytes 608-609 of the packed form
  refineCmd(out, cmd);
  EXPECT_EQ(out.crc, crc);
  cmd.reserve ^= 0x00000001u;  // byte 606
  refineCmd(out, cmd);
  EXPECT_NE(out.crc, crc);
}

TEST(RefineState, WidensScaledFields) {
  LowState_refine in{};
  in.motorState[0].tauEst = 256;
  in.motorState[1].tauEst = -1;
  in.motorState[2].ddq = 1000;
  in.motorState[3].ddq_raw = -32768;
  in.bms.cell_vol[9] = 255;
  in.bms.cell_vol[0] = 1;
  LowState state{};
  refineState(state, in);
  EXPECT_EQ(state.motorState[0].tauEst, 1.0f);
  EXPECT_EQ(state.motorState[1].tauEst, -0.00390625f);
  EXPECT_EQ(state.motorState[2].ddq, 1000.0f);
  EXPECT_EQ(state.motorState[3].ddq_raw, -32768.0f);
  EXPECT_EQ(state.bms.cell_vol[9], 8160);
  EXPECT_EQ(state.bms.cell_vol[0], 32);
}

TEST(RefineState, CopiesFieldsAndLeavesCrc) {
  LowState_refine in;
  std::mt19937 rng(5);
  auto* p = reinterpret_cast<uint8_t*>(&in);
  for (size_t i = 0; i < sizeof in; ++i) p[i] = static_cast<uint8_t>(rng());
  LowState state{};
  state.crc = 0x01020304u;
  refineState(state, in);
  const auto s = Bytes(state);
  const auto r = Bytes(in);
  EXPECT_EQ(std::memcmp(s.data(), r.data(), 75), 0);  // header and imu
  for (int i = 0; i < 20; ++i) {
    const size_t ms = 75 + 38 * i, mr = 75 + 32 * i;
    EXPECT_EQ(std::memcmp(&s[ms], &r[mr], 9), 0) << i;            // mode q dq
    EXPECT_EQ(std::memcmp(&s[ms + 17], &r[mr + 13], 8), 0) << i;  // q_raw dq_raw
    EXPECT_EQ(s[ms + 29], r[mr + 23]) << i;                       // temperature
    EXPECT_EQ(std::memcmp(&s[ms + 30], &r[mr + 24], 8), 0) << i;  // reserve
  }
  EXPECT_EQ(std::memcmp(&s[835], &r[715], 14), 0);  // bms up to cell_vol
  EXPECT_EQ(std::memcmp(&s[869], &r[739], 64), 0);  // footForce .. reserve
  EXPECT_EQ(state.crc, 0x01020304u);

  LowState fresh{};
  refineState(fresh, in);
  EXPECT_EQ(fresh.crc, 0u);
}
