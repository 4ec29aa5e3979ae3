// Message records of both protocol levels and the protocol constants.
//
// Every record except UDPState is a byte-packed, little-endian wire image: no padding, and the
// sizes and offsets below are part of the protocol. A value-initialised record is all zero bytes.
// Fields inside a packed record may sit at odd addresses; copy them by value, never keep a pointer
// or reference to a multi-byte field.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace TORVANE {

// First two bytes of every datagram. A variable on purpose: InitCmdData and the receive check
// read it at each call.
extern std::array<uint8_t, 2> HEAD;

constexpr uint8_t HIGH_LEVEL_FLAG = 0xEE;
constexpr uint8_t LOW_LEVEL_FLAG = 0xFF;

// Datagram lengths in bytes: HighCmd, HighState, LowCmd_refine, LowState_refine.
extern const int32_t HIGH_CMD_LENGTH;
extern const int32_t HIGH_STATE_LENGTH;
extern const int32_t LOW_CMD_LENGTH;
extern const int32_t LOW_STATE_LENGTH;

constexpr int MOTOR_SLOTS = 20;
// Written by InitCmdData into every motor slot: "hold no position, hold no velocity".
constexpr float POSITION_STOP = 2146000000.0f;  // bits 0x4EFFD2B9
constexpr float VELOCITY_STOP = 16000.0f;       // bits 0x467A0000

#pragma pack(push, 1)

struct Cartesian {
  float x;
  float y;
  float z;
};

struct LED {
  uint8_t r;
  uint8_t g;
  uint8_t b;
};

struct IMU {
  std::array<float, 4> quaternion;
  std::array<float, 3> gyroscope;
  std::array<float, 3> accelerometer;
  std::array<float, 3> rpy;
  int8_t temperature;
};

struct MotorCmd {
  uint8_t mode;  // 10 after InitCmdData; 0 switches the motor off
  float q;       // target position [rad]
  float dq;      // target velocity [rad/s]
  float tau;     // feed-forward torque [N m]
  float Kp;
  float Kd;
  std::array<uint32_t, 3> reserve;
};

struct MotorState {
  uint8_t mode;
  float q;  // [rad]
  float dq;
  float ddq;
  float tauEst;
  float q_raw;
  float dq_raw;
  float ddq_raw;
  int8_t temperature;
  std::array<uint32_t, 2> reserve;
};

struct BmsCmd {
  uint8_t off;
  std::array<uint8_t, 3> reserve;
};

struct BmsState {
  uint8_t version_h;
  uint8_t version_l;
  uint8_t bms_status;
  uint8_t SOC;
  int32_t current;
  uint16_t cycle;
  std::array<int8_t, 2> BQ_NTC;
  std::array<int8_t, 2> MCU_NTC;
  std::array<uint16_t, 10> cell_vol;
};

// Each frame record starts with the same 22-byte header (head .. bandWidth) and ends with
// reserve and crc; crc is always the last four bytes.

struct HighCmd {
  std::array<uint8_t, 2> head;
  uint8_t levelFlag;
  uint8_t frameReserve;
  std::array<uint32_t, 2> SN;
  std::array<uint32_t, 2> version;
  uint16_t bandWidth;
  uint8_t mode;
  uint8_t gaitType;
  uint8_t speedLevel;
  float footRaiseHeight;
  float bodyHeight;
  std::array<float, 2> position;
  std::array<float, 3> euler;
  std::array<float, 2> velocity;
  float yawSpeed;
  BmsCmd bms;
  std::array<LED, 4> led;
  std::array<uint8_t, 40> wirelessRemote;
  uint32_t reserve;
  uint32_t crc;  // covers bytes 0-123; byte 124 is covered by nothing
};

struct HighState {
  std::array<uint8_t, 2> head;
  uint8_t levelFlag;
  uint8_t frameReserve;
  std::array<uint32_t, 2> SN;
  std::array<uint32_t, 2> version;
  uint16_t bandWidth;
  IMU imu;
  std::array<MotorState, 20> motorState;
  BmsState bms;
  std::array<int16_t, 4> footForce;
  std::array<int16_t, 4> footForceEst;
  uint8_t mode;
  float progress;
  uint8_t gaitType;
  float footRaiseHeight;
  std::array<float, 3> position;
  float bodyHeight;
  std::array<float, 3> velocity;
  float yawSpeed;
  std::array<float, 4> rangeObstacle;
  std::array<Cartesian, 4> footPosition2Body;
  std::array<Cartesian, 4> footSpeed2Body;
  std::array<uint8_t, 40> wirelessRemote;
  uint32_t reserve;
  uint32_t crc;  // scrambled on the wire; covers bytes 0-1079, bytes 1080-1082 by nothing
};

struct LowCmd {
  std::array<uint8_t, 2> head;
  uint8_t levelFlag;
  uint8_t frameReserve;
  std::array<uint32_t, 2> SN;
  std::array<uint32_t, 2> version;
  uint16_t bandWidth;
  std::array<MotorCmd, 20> motorCmd;
  BmsCmd bms;
  std::array<uint8_t, 40> wirelessRemote;
  uint32_t reserve;
  uint32_t crc;  // never read: the packed form carries its own checksum
};

struct LowState {
  std::array<uint8_t, 2> head;
  uint8_t levelFlag;
  uint8_t frameReserve;
  std::array<uint32_t, 2> SN;
  std::array<uint32_t, 2> version;
  uint16_t bandWidth;
  IMU imu;
  std::array<MotorState, 20> motorState;
  BmsState bms;
  std::array<int16_t, 4> footForce;
  std::array<int16_t, 4> footForceEst;
  uint32_t tick;
  std::array<uint8_t, 40> wirelessRemote;
  uint32_t reserve;
  uint32_t crc;  // never written on receiving
};

#pragma pack(pop)

// Traffic counters of one endpoint; not a wire record, naturally aligned.
struct UDPState {
  uint64_t TotalCount;
  uint64_t SendCount;
  uint64_t RecvCount;
  uint64_t SendError;
  uint64_t FlagError;
  uint64_t RecvCRCError;
  uint64_t RecvLoseError;
};

static_assert(sizeof(Cartesian) == 12, "Cartesian size");
static_assert(sizeof(LED) == 3, "LED size");
static_assert(sizeof(IMU) == 53, "IMU size");
static_assert(offsetof(IMU, temperature) == 52, "IMU layout");
static_assert(sizeof(MotorCmd) == 33, "MotorCmd size");
static_assert(offsetof(MotorCmd, Kd) == 17 && offsetof(MotorCmd, reserve) == 21, "MotorCmd layout");
static_assert(sizeof(MotorState) == 38, "MotorState size");
static_assert(offsetof(MotorState, temperature) == 29 && offsetof(MotorState, reserve) == 30,
              "MotorState layout");
static_assert(sizeof(BmsCmd) == 4, "BmsCmd size");
static_assert(sizeof(BmsState) == 34, "BmsState size");
static_assert(offsetof(BmsState, cell_vol) == 14, "BmsState layout");

static_assert(sizeof(HighCmd) == 129, "HighCmd size");
static_assert(offsetof(HighCmd, bandWidth) == 20 && offsetof(HighCmd, mode) == 22, "frame header");
static_assert(offsetof(HighCmd, footRaiseHeight) == 25 && offsetof(HighCmd, position) == 33 &&
                  offsetof(HighCmd, euler) == 41 && offsetof(HighCmd, velocity) == 53 &&
                  offsetof(HighCmd, yawSpeed) == 61 && offsetof(HighCmd, bms) == 65 &&
                  offsetof(HighCmd, led) == 69 && offsetof(HighCmd, wirelessRemote) == 81 &&
                  offsetof(HighCmd, reserve) == 121 && offsetof(HighCmd, crc) == 125,
              "HighCmd layout");

static_assert(sizeof(HighState) == 1087, "HighState size");
static_assert(offsetof(HighState, imu) == 22 && offsetof(HighState, motorState) == 75 &&
                  offsetof(HighState, bms) == 835 && offsetof(HighState, footForce) == 869 &&
                  offsetof(HighState, footForceEst) == 877 && offsetof(HighState, mode) == 885 &&
                  offsetof(HighState, progress) == 886 && offsetof(HighState, gaitType) == 890 &&
                  offsetof(HighState, footRaiseHeight) == 891 &&
                  offsetof(HighState, position) == 895 && offsetof(HighState, bodyHeight) == 907 &&
                  offsetof(HighState, velocity) == 911 && offsetof(HighState, yawSpeed) == 923 &&
                  offsetof(HighState, rangeObstacle) == 927 &&
                  offsetof(HighState, footPosition2Body) == 943 &&
                  offsetof(HighState, footSpeed2Body) == 991 &&
                  offsetof(HighState, wirelessRemote) == 1039 &&
                  offsetof(HighState, reserve) == 1079 && offsetof(HighState, crc) == 1083,
              "HighState layout");

static_assert(sizeof(LowCmd) == 734, "LowCmd size");
static_assert(offsetof(LowCmd, motorCmd) == 22 && offsetof(LowCmd, bms) == 682 &&
                  offsetof(LowCmd, wirelessRemote) == 686 && offsetof(LowCmd, reserve) == 726 &&
                  offsetof(LowCmd, crc) == 730,
              "LowCmd layout");

static_assert(sizeof(LowState) == 937, "LowState size");
static_assert(offsetof(LowState, imu) == 22 && offsetof(LowState, motorState) == 75 &&
                  offsetof(LowState, bms) == 835 && offsetof(LowState, footForce) == 869 &&
                  offsetof(LowState, footForceEst) == 877 && offsetof(LowState, tick) == 885 &&
                  offsetof(LowState, wirelessRemote) == 889 && offsetof(LowState, reserve) == 929 &&
                  offsetof(LowState, crc) == 933,
              "LowState layout");

static_assert(sizeof(UDPState) == 56 && alignof(UDPState) == 8, "UDPState layout");

}  // namespace TORVANE
