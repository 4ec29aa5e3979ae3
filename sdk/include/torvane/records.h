// Message records of both protocol levels and the protocol constants.
//
// Every record except UDPState is a byte-packed, little-endian wire image: no padding, and the
// sizes and offsets below are part of the protocol. A value-initialised record is all zero bytes.
// Fields inside a packed record may sit at odd addresses; copy them by value, never keep a pointer
// or reference to a multi-byte field.
//
// Units are the robot controller's, as torvane-sim fills the fields; the SDK reads only the frame
// header, the checksum and (in the guard) q, dq and tauEst, and carries the rest unchanged.
// "robot's own" marks a value whose meaning and unit only the robot's controller defines.
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

// A point or vector, in the unit of the field that holds it ([m] or [m/s]).
struct Cartesian {
  float x;  // [m] or [m/s]
  float y;  // [m] or [m/s]
  float z;  // [m] or [m/s]
};

struct LED {
  uint8_t r;  // 0-255, no unit
  uint8_t g;  // 0-255, no unit
  uint8_t b;  // 0-255, no unit
};

struct IMU {
  std::array<float, 4> quaternion;     // w, x, y, z; no unit
  std::array<float, 3> gyroscope;      // [rad/s] about x, y, z
  std::array<float, 3> accelerometer;  // [m/s²] along x, y, z
  std::array<float, 3> rpy;            // [rad] roll, pitch, yaw
  int8_t temperature;                  // [°C]
};

struct MotorCmd {
  uint8_t mode;                     // 10 after InitCmdData; 0 switches the motor off
  float q;                          // target position [rad]
  float dq;                         // target velocity [rad/s]
  float tau;                        // feed-forward torque [N m]; steps of 1/256 N m on the wire
  float Kp;                         // stiffness [N m/rad]; steps of 1/32 on the wire, below 1024
  float Kd;                         // damping [N m s/rad]; steps of 1/16 on the wire, below 2048
  std::array<uint32_t, 3> reserve;  // carried unchanged
};

struct MotorState {
  uint8_t mode;                     // the motor's mode: 10 driven, 0 off
  float q;                          // position [rad]
  float dq;                         // velocity [rad/s]
  float ddq;                        // acceleration [rad/s²]; whole numbers at the low level
  float tauEst;                     // estimated torque [N m]; steps of 1/256 N m at the low level
  float q_raw;                      // [rad], before the robot's own filtering
  float dq_raw;                     // [rad/s], before the robot's own filtering
  float ddq_raw;                    // [rad/s²], before the robot's own filtering
  int8_t temperature;               // [°C]
  std::array<uint32_t, 2> reserve;  // carried unchanged
};

struct BmsCmd {
  uint8_t off;                     // battery switch-off byte, robot's own
  std::array<uint8_t, 3> reserve;  // carried unchanged
};

struct BmsState {
  uint8_t version_h;                  // battery management version, high part; no unit
  uint8_t version_l;                  // battery management version, low part; no unit
  uint8_t bms_status;                 // status byte, robot's own
  uint8_t SOC;                        // state of charge [%]
  int32_t current;                    // [mA], negative while discharging
  uint16_t cycle;                     // charge cycles, a count
  std::array<int8_t, 2> BQ_NTC;       // battery temperatures [°C]
  std::array<int8_t, 2> MCU_NTC;      // battery controller temperatures [°C]
  std::array<uint16_t, 10> cell_vol;  // cell voltages [mV]; steps of 32 mV at the low level
};

// Each frame record starts with the same 22-byte header (head .. bandWidth) and ends with
// reserve and crc; crc is always the last four bytes.

struct HighCmd {
  std::array<uint8_t, 2> head;             // 0xFE 0xEF (HEAD)
  uint8_t levelFlag;                       // HIGH_LEVEL_FLAG or LOW_LEVEL_FLAG
  uint8_t frameReserve;                    // reserved
  std::array<uint32_t, 2> SN;              // serial-number words, robot's own, carried unchanged
  std::array<uint32_t, 2> version;         // robot's own, carried unchanged
  uint16_t bandWidth;                      // robot's own, carried unchanged
  uint8_t mode;                            // robot's own; torvane-sim: 2 walks, any other stands
  uint8_t gaitType;                        // robot's own
  uint8_t speedLevel;                      // robot's own
  float footRaiseHeight;                   // [m], offset from the robot's default
  float bodyHeight;                        // [m], offset from the robot's default
  std::array<float, 2> position;           // target x, y [m]
  std::array<float, 3> euler;              // attitude target roll, pitch, yaw [rad]
  std::array<float, 2> velocity;           // forward, sideways in the body frame [m/s]
  float yawSpeed;                          // [rad/s], positive turns left
  BmsCmd bms;                              // battery command
  std::array<LED, 4> led;                  // four colours
  std::array<uint8_t, 40> wirelessRemote;  // raw remote bytes, robot's own
  uint32_t reserve;                        // reserved
  uint32_t crc;                            // covers bytes 0-123; byte 124 is covered by nothing
};

struct HighState {
  std::array<uint8_t, 2> head;  // 0xFE 0xEF (HEAD)
  uint8_t levelFlag;            // HIGH_LEVEL_FLAG or LOW_LEVEL_FLAG
  uint8_t frameReserve;         // reserved
  std::array<uint32_t, 2> SN;   // serial-number words, robot's own (torvane-sim counts in SN[0])
  std::array<uint32_t, 2> version;             // robot's own, carried unchanged
  uint16_t bandWidth;                          // robot's own, carried unchanged
  IMU imu;                                     // the body's
  std::array<MotorState, 20> motorState;       // slot = 3 * leg + joint for 0-11; 12-19 unused
  BmsState bms;                                // battery state
  std::array<int16_t, 4> footForce;            // FR, FL, RR, RL; raw, the sensor's own unit
  std::array<int16_t, 4> footForceEst;         // FR, FL, RR, RL; raw, the sensor's own unit
  uint8_t mode;                                // robot's own
  float progress;                              // robot's own, no unit
  uint8_t gaitType;                            // robot's own
  float footRaiseHeight;                       // [m]
  std::array<float, 3> position;               // x, y, z from the start [m]
  float bodyHeight;                            // [m]
  std::array<float, 3> velocity;               // forward, sideways, up in the body frame [m/s]
  float yawSpeed;                              // [rad/s], positive turns left
  std::array<float, 4> rangeObstacle;          // obstacle distances [m]
  std::array<Cartesian, 4> footPosition2Body;  // FR, FL, RR, RL relative to the body [m]
  std::array<Cartesian, 4> footSpeed2Body;     // FR, FL, RR, RL relative to the body [m/s]
  std::array<uint8_t, 40> wirelessRemote;      // raw remote bytes, robot's own
  uint32_t reserve;                            // reserved
  uint32_t crc;  // scrambled on the wire; covers bytes 0-1079, bytes 1080-1082 by nothing
};

struct LowCmd {
  std::array<uint8_t, 2> head;             // 0xFE 0xEF (HEAD)
  uint8_t levelFlag;                       // HIGH_LEVEL_FLAG or LOW_LEVEL_FLAG
  uint8_t frameReserve;                    // reserved
  std::array<uint32_t, 2> SN;              // serial-number words, robot's own, carried unchanged
  std::array<uint32_t, 2> version;         // robot's own, carried unchanged
  uint16_t bandWidth;                      // robot's own, carried unchanged
  std::array<MotorCmd, 20> motorCmd;       // slot = 3 * leg + joint for 0-11; 12-19 unused
  BmsCmd bms;                              // battery command
  std::array<uint8_t, 40> wirelessRemote;  // raw remote bytes, robot's own
  uint32_t reserve;                        // reserved
  uint32_t crc;                            // never read: the packed form carries its own checksum
};

struct LowState {
  std::array<uint8_t, 2> head;  // 0xFE 0xEF (HEAD)
  uint8_t levelFlag;            // HIGH_LEVEL_FLAG or LOW_LEVEL_FLAG
  uint8_t frameReserve;         // reserved
  std::array<uint32_t, 2> SN;   // serial-number words, robot's own (torvane-sim counts in SN[0])
  std::array<uint32_t, 2> version;         // robot's own, carried unchanged
  uint16_t bandWidth;                      // robot's own, carried unchanged
  IMU imu;                                 // the body's
  std::array<MotorState, 20> motorState;   // slot = 3 * leg + joint for 0-11; 12-19 unused
  BmsState bms;                            // battery state
  std::array<int16_t, 4> footForce;        // FR, FL, RR, RL; raw, the sensor's own unit
  std::array<int16_t, 4> footForceEst;     // FR, FL, RR, RL; raw, the sensor's own unit
  uint32_t tick;                           // controller clock [ms]
  std::array<uint8_t, 40> wirelessRemote;  // raw remote bytes, robot's own
  uint32_t reserve;                        // reserved
  uint32_t crc;                            // never written on receiving
};

#pragma pack(pop)

// Traffic counters of one endpoint; not a wire record, naturally aligned.
struct UDPState {
  uint64_t TotalCount;     // never counted; 0
  uint64_t SendCount;      // sends that reached the socket
  uint64_t RecvCount;      // valid states published by Recv
  uint64_t SendError;      // never counted; 0
  uint64_t FlagError;      // never counted; 0
  uint64_t RecvCRCError;   // datagrams rejected for their checksum
  uint64_t RecvLoseError;  // Recv calls that found nothing (or whose timed wait expired)
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
