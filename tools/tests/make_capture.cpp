// Writes a capture of hand-made datagrams with exact times: one of each of the four kinds with
// distinct values in every field, then damaged and foreign ones, for the dissector and
// torvane-linkstat tests. Usage: make_capture FILE
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pcap/udp_pcap.h"
#include "torvane/checksum.h"
#include "torvane/packing.h"
#include "torvane/records.h"

using namespace TORVANE;

namespace {

constexpr uint32_t kLoopback = 0x7F000001;
const torvane_pcap::Endpoint kHighClient{kLoopback, 40001}, kHighRobot{kLoopback, 8082};
const torvane_pcap::Endpoint kLowClient{kLoopback, 40002}, kLowRobot{kLoopback, 8083};

torvane_pcap::Writer g_out;
int64_t g_time_us = 1700000000LL * 1000000;

void Put(const torvane_pcap::Endpoint& from, const torvane_pcap::Endpoint& to,
         const std::vector<uint8_t>& bytes, int64_t after_us = 1000) {
  g_time_us += after_us;
  g_out.Write(g_time_us, from, to, bytes.data(), bytes.size());
}

template <typename R>
std::vector<uint8_t> Bytes(const R& r) {
  std::vector<uint8_t> v(sizeof r);
  std::memcpy(v.data(), &r, sizeof r);
  return v;
}

// Stamps the checksum into the last four bytes, scrambled if asked.
void Stamp(std::vector<uint8_t>& d, bool scrambled) {
  const int n = static_cast<int>(d.size());
  const uint32_t c = crc32(reinterpret_cast<const uint32_t*>(d.data()), covered_words(n));
  std::memcpy(d.data() + n - 4, &c, 4);
  if (scrambled) encryptCRC(d.data(), nullptr, static_cast<uint32_t>(n));
}

template <typename R>
void Frame(R& r, uint8_t level, uint32_t sn) {
  r.head = HEAD;
  r.levelFlag = level;
  r.frameReserve = 0x5A;
  r.SN = {sn, 0};
  r.version = {3, 8};
  r.bandWidth = 0x3A98;
  r.reserve = 0x01020304;
}

std::vector<uint8_t> HighCommand(uint32_t sn, bool scrambled = false) {
  HighCmd c{};
  Frame(c, HIGH_LEVEL_FLAG, sn);
  c.mode = 2;
  c.gaitType = 1;
  c.speedLevel = 3;
  c.footRaiseHeight = 0.08f;
  c.bodyHeight = -0.05f;
  c.position = {1.5f, -0.5f};
  c.euler = {0.1f, -0.2f, 0.3f};
  c.velocity = {0.5f, -0.25f};
  c.yawSpeed = 1.5f;
  c.bms.off = 0xA5;
  c.bms.reserve = {1, 2, 3};
  for (uint8_t i = 0; i < 4; ++i) c.led[i] = {static_cast<uint8_t>(10 * i), 100, 200};
  for (uint8_t i = 0; i < 40; ++i) c.wirelessRemote[i] = i;
  auto d = Bytes(c);
  Stamp(d, scrambled);
  return d;
}

std::vector<uint8_t> HighStateDatagram(uint32_t sn, bool scrambled = true) {
  HighState s{};
  Frame(s, HIGH_LEVEL_FLAG, sn);
  s.imu.quaternion = {1.0f, 0.0f, -0.0f, 0.5f};
  s.imu.gyroscope = {0.01f, -0.02f, 0.03f};
  s.imu.accelerometer = {0.1f, 0.2f, 9.81f};
  s.imu.rpy = {0.05f, -0.05f, 3.1415927f};
  s.imu.temperature = -12;
  for (int i = 0; i < MOTOR_SLOTS; ++i) {
    MotorState& m = s.motorState[i];
    m.mode = static_cast<uint8_t>(i < 12 ? 10 : 0);
    m.q = 0.125f * i;
    m.dq = -0.5f * i;
    m.ddq = 2.0f * i;
    m.tauEst = 0.25f * i;
    m.q_raw = m.q + 1.0f;
    m.dq_raw = m.dq + 1.0f;
    m.ddq_raw = m.ddq + 1.0f;
    m.temperature = static_cast<int8_t>(30 + i);
    m.reserve = {static_cast<uint32_t>(i), 0xFFFFFFFFu};
  }
  s.bms = {1, 2, 3, 87, -1500, 321, {25, -3}, {40, 41}, {}};
  for (uint16_t k = 0; k < 10; ++k) s.bms.cell_vol[k] = static_cast<uint16_t>(4100 + k);
  s.footForce = {10, 20, -30, 32767};
  s.footForceEst = {11, 21, -31, -32768};
  s.mode = 1;
  s.progress = 0.75f;
  s.gaitType = 2;
  s.footRaiseHeight = 0.09f;
  s.position = {1.0f, 2.0f, 0.28f};
  s.bodyHeight = 0.28f;
  s.velocity = {0.5f, 0.0f, -0.1f};
  s.yawSpeed = -0.75f;
  s.rangeObstacle = {5.0f, 4.0f, std::nanf(""), INFINITY};
  for (int i = 0; i < 4; ++i) {
    s.footPosition2Body[i] = {0.19f, -0.13f, -0.28f - 0.01f * i};
    s.footSpeed2Body[i] = {0.0f, 0.5f * i, -0.5f};
  }
  for (uint8_t i = 0; i < 40; ++i) s.wirelessRemote[i] = static_cast<uint8_t>(0xFF - i);
  auto d = Bytes(s);
  Stamp(d, scrambled);
  return d;
}

std::vector<uint8_t> LowCommand(uint32_t sn) {
  LowCmd c{};
  Frame(c, LOW_LEVEL_FLAG, sn);
  for (int i = 0; i < MOTOR_SLOTS; ++i) {
    MotorCmd& m = c.motorCmd[i];
    m.mode = 10;
    m.q = POSITION_STOP;
    m.dq = VELOCITY_STOP;
    m.reserve = {static_cast<uint32_t>(i), 0, 7};
  }
  // The packing's edge cases: truncation toward zero, wrap above the 16-bit range, NaN.
  const float taus[] = {1.0f, -1.0f, 0.999f, -0.999f, 200.0f};
  for (int i = 0; i < 5; ++i) c.motorCmd[i].tau = taus[i];
  c.motorCmd[0].q = 0.67f;
  c.motorCmd[0].dq = 0.0f;
  c.motorCmd[0].Kp = 20.0f;
  c.motorCmd[0].Kd = 0.5f;
  c.motorCmd[1].Kp = -1024.0f;
  c.motorCmd[1].Kd = std::nanf("");
  c.bms.off = 0;
  for (uint8_t i = 0; i < 40; ++i) c.wirelessRemote[i] = static_cast<uint8_t>(i * 3);
  LowCmd_refine packed{};
  refineCmd(packed, c);
  return Bytes(packed);
}

std::vector<uint8_t> LowStateDatagram(uint32_t sn, bool good = true) {
  LowState_refine s{};
  Frame(s, LOW_LEVEL_FLAG, sn);
  s.imu.quaternion = {0.0f, 1.0f, 0.0f, 0.0f};
  s.imu.gyroscope = {1.0f, 2.0f, 3.0f};
  s.imu.accelerometer = {-1.0f, -2.0f, -3.0f};
  s.imu.rpy = {0.0f, 0.5f, -0.5f};
  s.imu.temperature = 45;
  for (int i = 0; i < MOTOR_SLOTS; ++i) {
    MotorState_refine& m = s.motorState[i];
    m.mode = 10;
    m.q = -0.25f * i;
    m.dq = 0.75f;
    m.ddq = static_cast<int16_t>(1000 - i);
    m.tauEst = static_cast<int16_t>(i == 0 ? 256 : (i == 1 ? -1 : 64 * i));
    m.q_raw = 1.5f;
    m.dq_raw = -1.5f;
    m.ddq_raw = static_cast<int16_t>(-i);
    m.temperature = static_cast<int8_t>(-i);
    m.reserve = {0, static_cast<uint32_t>(i)};
  }
  s.bms = {2, 1, 0, 55, 2500, 12, {20, 21}, {22, 23}, {}};
  for (uint8_t k = 0; k < 10; ++k) s.bms.cell_vol[k] = static_cast<uint8_t>(k == 9 ? 255 : 130 + k);
  s.footForce = {1, 2, 3, 4};
  s.footForceEst = {-1, -2, -3, -4};
  s.tick = 123456;
  for (uint8_t i = 0; i < 40; ++i) s.wirelessRemote[i] = 0x80;
  auto d = Bytes(s);
  Stamp(d, false);
  if (!good) d[806] ^= 0x01;
  return d;
}

// Every cut of each of the four datagrams, and datagrams of each length with an intact header
// and random bytes after it, all on one flow.
int Cuts() {
  const std::vector<uint8_t> whole[] = {HighCommand(1), HighStateDatagram(2), LowCommand(3),
                                        LowStateDatagram(4)};
  for (const auto& d : whole) {
    for (size_t n = 0; n < d.size(); ++n) {
      Put(kHighClient, kHighRobot, std::vector<uint8_t>(d.begin(), d.begin() + n), 10);
    }
  }
  uint32_t x = 12345;  // xorshift: the same bytes every run
  for (const auto& d : whole) {
    for (int k = 0; k < 50; ++k) {
      std::vector<uint8_t> noise(d.size());
      for (auto& b : noise) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
      }
      std::memcpy(noise.data(), d.data(), 3);
      Put(kHighRobot, kHighClient, noise, 10);
    }
  }
  return g_out.Close() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3 || (argc == 3 && std::strcmp(argv[2], "--cuts") != 0)) {
    std::fputs("usage: make_capture FILE [--cuts]\n", stderr);
    return 2;
  }
  std::string error;
  if (!g_out.Open(argv[1], error)) {
    std::fprintf(stderr, "make_capture: %s\n", error.c_str());
    return 1;
  }
  if (argc == 3) return Cuts();
  // 1-4: one of each kind.
  Put(kHighClient, kHighRobot, HighCommand(7));
  Put(kHighRobot, kHighClient, HighStateDatagram(42));
  Put(kLowClient, kLowRobot, LowCommand(0));
  Put(kLowRobot, kLowClient, LowStateDatagram(1));

  // 5-: the high-level link, damaged in every way it can be.
  Put(kHighClient, kHighRobot, HighCommand(8, /*scrambled=*/true));          // masked checksum
  Put(kHighRobot, kHighClient, HighStateDatagram(43, /*scrambled=*/false));  // plain checksum
  auto bad_header = HighStateDatagram(44);
  bad_header[1] ^= 0xFF;
  Put(kHighRobot, kHighClient, bad_header);
  auto bad_crc = HighStateDatagram(45);
  bad_crc[1083] ^= 0x10;
  Put(kHighRobot, kHighClient, bad_crc);
  auto cut = HighStateDatagram(46);
  cut.resize(500);
  Put(kHighRobot, kHighClient, cut);
  Put(kHighRobot, kHighClient, {0xFE, 0xEF});
  Put(kHighRobot, kHighClient, {0xFE});
  Put(kHighRobot, kHighClient, {});
  auto wrong_level = HighCommand(9);
  wrong_level[2] = 0x12;
  Put(kHighClient, kHighRobot, wrong_level);

  // The low-level link: a run of states with a gap (SN 4 missing), a repeat and jittered
  // spacing, then a long and a cut datagram.
  const int64_t spacing[] = {2000, 2000, 2100, 1900, 4000, 2000, 2000};
  const uint32_t serials[] = {2, 3, 5, 5, 6, 7, 8};
  for (int i = 0; i < 7; ++i) Put(kLowRobot, kLowClient, LowStateDatagram(serials[i]), spacing[i]);
  Put(kLowRobot, kLowClient, LowStateDatagram(9, /*good=*/false));
  std::vector<uint8_t> long_one(2000, 0);
  long_one[0] = 0xFE;
  long_one[1] = 0xEF;
  long_one[2] = 0xFF;
  Put(kLowClient, kLowRobot, long_one);
  auto short_cmd = LowCommand(1);
  short_cmd.resize(300);
  Put(kLowClient, kLowRobot, short_cmd);

  // Elsewhere: a command on ports of no torvane link (found by content), and foreign traffic.
  Put({kLoopback, 7000}, {kLoopback, 7001}, HighCommand(10));
  const std::string hello = "hello, not a robot";
  Put({kLoopback, 5000}, {kLoopback, 5001}, std::vector<uint8_t>(hello.begin(), hello.end()));
  return g_out.Close() ? 0 : 1;
}
