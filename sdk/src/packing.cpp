#include "torvane/packing.h"

#include <cmath>
#include <cstring>

#include "torvane/checksum.h"

namespace TORVANE {

LowCmd_refine udp_lowcmd{};
LowState_refine udp_lowstate{};

namespace {

constexpr size_t kHeaderBytes = 22;

// Truncation toward zero, then saturation at the 16-bit limits: a torque or gain beyond the
// wire's range goes out as the nearer limit, never with its sign flipped by a wrap. NaN gives 0.
// The range tests come first so that no out-of-range float is ever converted.
int16_t PackScaled(float value, float scale) {
  const float p = value * scale;
  if (std::isnan(p)) return 0;
  if (p >= 32767.0f) return INT16_MAX;
  if (p <= -32768.0f) return INT16_MIN;
  return static_cast<int16_t>(p);
}

}  // namespace

void refineCmd(LowCmd_refine& out, const LowCmd& cmd) {
  std::memcpy(&out, &cmd, kHeaderBytes);
  for (int i = 0; i < MOTOR_SLOTS; ++i) {
    const MotorCmd& m = cmd.motorCmd[i];
    MotorCmd_refine& r = out.motorCmd[i];
    r.mode = m.mode;
    r.q = m.q;
    r.dq = m.dq;
    r.tau = PackScaled(m.tau, 256.0f);
    r.Kp = PackScaled(m.Kp, 32.0f);
    r.Kd = PackScaled(m.Kd, 16.0f);
    std::memcpy(reinterpret_cast<unsigned char*>(&r) + offsetof(MotorCmd_refine, reserve),
                reinterpret_cast<const unsigned char*>(&m) + offsetof(MotorCmd, reserve),
                sizeof(m.reserve));
  }
  // bms, wirelessRemote and reserve are contiguous in both records.
  std::memcpy(reinterpret_cast<unsigned char*>(&out) + offsetof(LowCmd_refine, bms),
              reinterpret_cast<const unsigned char*>(&cmd) + offsetof(LowCmd, bms),
              offsetof(LowCmd, crc) - offsetof(LowCmd, bms));
  const uint32_t crc = crc32(reinterpret_cast<const uint32_t*>(&out),
                             covered_words(static_cast<int>(sizeof(LowCmd_refine))));
  out.crc = crc;
}

void refineState(LowState& state, const LowState_refine& in) {
  // Header and imu are contiguous and identical in both records.
  std::memcpy(&state, &in, offsetof(LowState_refine, motorState));
  for (int i = 0; i < MOTOR_SLOTS; ++i) {
    const MotorState_refine& r = in.motorState[i];
    MotorState& m = state.motorState[i];
    m.mode = r.mode;
    m.q = r.q;
    m.dq = r.dq;
    m.ddq = static_cast<float>(r.ddq);
    m.tauEst = static_cast<float>(r.tauEst) * 0.00390625f;
    m.q_raw = r.q_raw;
    m.dq_raw = r.dq_raw;
    m.ddq_raw = static_cast<float>(r.ddq_raw);
    m.temperature = r.temperature;
    std::memcpy(reinterpret_cast<unsigned char*>(&m) + offsetof(MotorState, reserve),
                reinterpret_cast<const unsigned char*>(&r) + offsetof(MotorState_refine, reserve),
                sizeof(m.reserve));
  }
  // Everything of bms up to cell_vol has the same layout.
  std::memcpy(reinterpret_cast<unsigned char*>(&state) + offsetof(LowState, bms),
              reinterpret_cast<const unsigned char*>(&in) + offsetof(LowState_refine, bms),
              offsetof(BmsState, cell_vol));
  const auto* cells = reinterpret_cast<const unsigned char*>(&in) + offsetof(LowState_refine, bms) +
                      offsetof(BmsState_refine, cell_vol);
  auto* wide = reinterpret_cast<unsigned char*>(&state) + offsetof(LowState, bms) +
               offsetof(BmsState, cell_vol);
  for (int k = 0; k < 10; ++k) {
    const uint16_t v = static_cast<uint16_t>(cells[k] * 32u);
    std::memcpy(wide + 2 * k, &v, sizeof v);
  }
  // footForce .. reserve are contiguous in both records.
  std::memcpy(reinterpret_cast<unsigned char*>(&state) + offsetof(LowState, footForce),
              reinterpret_cast<const unsigned char*>(&in) + offsetof(LowState_refine, footForce),
              offsetof(LowState, crc) - offsetof(LowState, footForce));
}

}  // namespace TORVANE
