// Packed low-level datagrams and their conversion from and to the user-side records.
//
// On the wire the low-level records narrow torques, gains and accelerations to int16 with fixed
// power-of-two scales and cell voltages to single bytes; everything else travels unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

#include "torvane/records.h"

namespace TORVANE {

#pragma pack(push, 1)

struct MotorCmd_refine {
  uint8_t mode;
  float q;
  float dq;
  int16_t tau;  // x 256
  int16_t Kp;   // x 32
  int16_t Kd;   // x 16
  std::array<uint32_t, 3> reserve;
};

struct MotorState_refine {
  uint8_t mode;
  float q;
  float dq;
  int16_t ddq;     // unscaled
  int16_t tauEst;  // x 256
  float q_raw;
  float dq_raw;
  int16_t ddq_raw;  // unscaled
  int8_t temperature;
  std::array<uint32_t, 2> reserve;
};

struct BmsState_refine {
  uint8_t version_h;
  uint8_t version_l;
  uint8_t bms_status;
  uint8_t SOC;
  int32_t current;
  uint16_t cycle;
  std::array<int8_t, 2> BQ_NTC;
  std::array<int8_t, 2> MCU_NTC;
  std::array<uint8_t, 10> cell_vol;  // / 32
};

struct LowCmd_refine {
  std::array<uint8_t, 2> head;
  uint8_t levelFlag;
  uint8_t frameReserve;
  std::array<uint32_t, 2> SN;
  std::array<uint32_t, 2> version;
  uint16_t bandWidth;
  std::array<MotorCmd_refine, 20> motorCmd;
  BmsCmd bms;
  std::array<uint8_t, 40> wirelessRemote;
  uint32_t reserve;
  uint32_t crc;  // covers bytes 0-607; bytes 608-609 are covered by nothing
};

struct LowState_refine {
  std::array<uint8_t, 2> head;
  uint8_t levelFlag;
  uint8_t frameReserve;
  std::array<uint32_t, 2> SN;
  std::array<uint32_t, 2> version;
  uint16_t bandWidth;
  IMU imu;
  std::array<MotorState_refine, 20> motorState;
  BmsState_refine bms;
  std::array<int16_t, 4> footForce;
  std::array<int16_t, 4> footForceEst;
  uint32_t tick;
  std::array<uint8_t, 40> wirelessRemote;
  uint32_t reserve;
  uint32_t crc;  // covers bytes 0-799; bytes 800-802 are covered by nothing
};

#pragma pack(pop)

static_assert(sizeof(MotorCmd_refine) == 27 && offsetof(MotorCmd_refine, reserve) == 15,
              "MotorCmd_refine layout");
static_assert(sizeof(MotorState_refine) == 32 && offsetof(MotorState_refine, q_raw) == 13 &&
                  offsetof(MotorState_refine, temperature) == 23,
              "MotorState_refine layout");
static_assert(sizeof(BmsState_refine) == 24, "BmsState_refine size");
static_assert(sizeof(LowCmd_refine) == 614 && offsetof(LowCmd_refine, motorCmd) == 22 &&
                  offsetof(LowCmd_refine, bms) == 562 &&
                  offsetof(LowCmd_refine, wirelessRemote) == 566 &&
                  offsetof(LowCmd_refine, reserve) == 606 && offsetof(LowCmd_refine, crc) == 610,
              "LowCmd_refine layout");
static_assert(sizeof(LowState_refine) == 807 && offsetof(LowState_refine, imu) == 22 &&
                  offsetof(LowState_refine, motorState) == 75 &&
                  offsetof(LowState_refine, bms) == 715 &&
                  offsetof(LowState_refine, footForce) == 739 &&
                  offsetof(LowState_refine, tick) == 755 &&
                  offsetof(LowState_refine, wirelessRemote) == 759 &&
                  offsetof(LowState_refine, reserve) == 799 &&
                  offsetof(LowState_refine, crc) == 803,
              "LowState_refine layout");

// Process-wide staging records of the low-level SetSend and GetRecv, shared by all endpoints.
// The endpoint uses them only under its process-wide staging lock; other code that touches
// them directly while endpoints run gets no such guard.
extern LowCmd_refine udp_lowcmd;
extern LowState_refine udp_lowstate;

// Packs `cmd` into `out` (every byte) and stamps out.crc over its first 152 words.
// tau, Kp, Kd are scaled by 256, 32, 16 and truncated toward zero; a value beyond the 16-bit
// range goes out as the nearer limit (-32768 or 32767), never wrapped; NaN gives 0.
void refineCmd(LowCmd_refine& out, const LowCmd& cmd);

// Unpacks `in` into every field of `state` except state.crc. The checksum is not checked here.
void refineState(LowState& state, const LowState_refine& in);

}  // namespace TORVANE
