// Prints the layout of the four datagrams as the C++ records have it, one line per field as the
// dissector shows it: "<record> <path> <offset> <size>". Byte arrays are one field, other arrays
// one field per element. Exits 1 if the fields do not cover each record exactly once.
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "torvane/packing.h"
#include "torvane/records.h"

using namespace TORVANE;

namespace {

struct Leaf {
  std::string path;
  size_t offset, size;
};
std::vector<Leaf> g_leaves;

void Add(const std::string& path, size_t offset, size_t size, size_t count = 1) {
  for (size_t i = 0; i < count; ++i) g_leaves.push_back({path, offset + i * size, size});
}

#define FIELD(T, base, prefix, m) Add(prefix #m, base + offsetof(T, m), sizeof(T::m))
#define ARRAY(T, base, prefix, m) \
  Add(prefix #m, base + offsetof(T, m), sizeof(T::m[0]), std::tuple_size<decltype(T::m)>::value)

template <typename R>
void Header(size_t base) {
  FIELD(R, base, "", head);
  FIELD(R, base, "", levelFlag);
  FIELD(R, base, "", frameReserve);
  ARRAY(R, base, "", SN);
  ARRAY(R, base, "", version);
  FIELD(R, base, "", bandWidth);
}

template <typename R>
void Trailer(size_t base) {
  FIELD(R, base, "", reserve);
  FIELD(R, base, "", crc);
}

void Imu(size_t base) {
  ARRAY(IMU, base, "imu.", quaternion);
  ARRAY(IMU, base, "imu.", gyroscope);
  ARRAY(IMU, base, "imu.", accelerometer);
  ARRAY(IMU, base, "imu.", rpy);
  FIELD(IMU, base, "imu.", temperature);
}

void BmsCommand(size_t base) {
  FIELD(BmsCmd, base, "bms.", off);
  FIELD(BmsCmd, base, "bms.", reserve);  // bytes
}

template <typename B>
void BmsStateOf(size_t base) {
  FIELD(B, base, "bms.", version_h);
  FIELD(B, base, "bms.", version_l);
  FIELD(B, base, "bms.", bms_status);
  FIELD(B, base, "bms.", SOC);
  FIELD(B, base, "bms.", current);
  FIELD(B, base, "bms.", cycle);
  ARRAY(B, base, "bms.", BQ_NTC);
  ARRAY(B, base, "bms.", MCU_NTC);
  ARRAY(B, base, "bms.", cell_vol);
}

template <typename M>
void MotorStates(size_t base) {
  for (int i = 0; i < MOTOR_SLOTS; ++i) {
    const size_t b = base + i * sizeof(M);
    FIELD(M, b, "motorState.", mode);
    FIELD(M, b, "motorState.", q);
    FIELD(M, b, "motorState.", dq);
    FIELD(M, b, "motorState.", ddq);
    FIELD(M, b, "motorState.", tauEst);
    FIELD(M, b, "motorState.", q_raw);
    FIELD(M, b, "motorState.", dq_raw);
    FIELD(M, b, "motorState.", ddq_raw);
    FIELD(M, b, "motorState.", temperature);
    ARRAY(M, b, "motorState.", reserve);
  }
}

void Cartesians(const std::string& name, size_t base) {
  for (size_t i = 0; i < 4; ++i) {
    const size_t b = base + i * sizeof(Cartesian);
    Add(name + ".x", b + offsetof(Cartesian, x), sizeof(float));
    Add(name + ".y", b + offsetof(Cartesian, y), sizeof(float));
    Add(name + ".z", b + offsetof(Cartesian, z), sizeof(float));
  }
}

void HighCmdLayout() {
  Header<HighCmd>(0);
  FIELD(HighCmd, 0, "", mode);
  FIELD(HighCmd, 0, "", gaitType);
  FIELD(HighCmd, 0, "", speedLevel);
  FIELD(HighCmd, 0, "", footRaiseHeight);
  FIELD(HighCmd, 0, "", bodyHeight);
  ARRAY(HighCmd, 0, "", position);
  ARRAY(HighCmd, 0, "", euler);
  ARRAY(HighCmd, 0, "", velocity);
  FIELD(HighCmd, 0, "", yawSpeed);
  BmsCommand(offsetof(HighCmd, bms));
  for (size_t i = 0; i < 4; ++i) {
    const size_t b = offsetof(HighCmd, led) + i * sizeof(LED);
    FIELD(LED, b, "led.", r);
    FIELD(LED, b, "led.", g);
    FIELD(LED, b, "led.", b);
  }
  FIELD(HighCmd, 0, "", wirelessRemote);  // bytes
  Trailer<HighCmd>(0);
}

void HighStateLayout() {
  Header<HighState>(0);
  Imu(offsetof(HighState, imu));
  MotorStates<MotorState>(offsetof(HighState, motorState));
  BmsStateOf<BmsState>(offsetof(HighState, bms));
  ARRAY(HighState, 0, "", footForce);
  ARRAY(HighState, 0, "", footForceEst);
  FIELD(HighState, 0, "", mode);
  FIELD(HighState, 0, "", progress);
  FIELD(HighState, 0, "", gaitType);
  FIELD(HighState, 0, "", footRaiseHeight);
  ARRAY(HighState, 0, "", position);
  FIELD(HighState, 0, "", bodyHeight);
  ARRAY(HighState, 0, "", velocity);
  FIELD(HighState, 0, "", yawSpeed);
  ARRAY(HighState, 0, "", rangeObstacle);
  Cartesians("footPosition2Body", offsetof(HighState, footPosition2Body));
  Cartesians("footSpeed2Body", offsetof(HighState, footSpeed2Body));
  FIELD(HighState, 0, "", wirelessRemote);
  Trailer<HighState>(0);
}

void LowCmdLayout() {
  Header<LowCmd_refine>(0);
  for (int i = 0; i < MOTOR_SLOTS; ++i) {
    const size_t b = offsetof(LowCmd_refine, motorCmd) + i * sizeof(MotorCmd_refine);
    FIELD(MotorCmd_refine, b, "motorCmd.", mode);
    FIELD(MotorCmd_refine, b, "motorCmd.", q);
    FIELD(MotorCmd_refine, b, "motorCmd.", dq);
    FIELD(MotorCmd_refine, b, "motorCmd.", tau);
    FIELD(MotorCmd_refine, b, "motorCmd.", Kp);
    FIELD(MotorCmd_refine, b, "motorCmd.", Kd);
    ARRAY(MotorCmd_refine, b, "motorCmd.", reserve);
  }
  BmsCommand(offsetof(LowCmd_refine, bms));
  FIELD(LowCmd_refine, 0, "", wirelessRemote);
  Trailer<LowCmd_refine>(0);
}

void LowStateLayout() {
  Header<LowState_refine>(0);
  Imu(offsetof(LowState_refine, imu));
  MotorStates<MotorState_refine>(offsetof(LowState_refine, motorState));
  BmsStateOf<BmsState_refine>(offsetof(LowState_refine, bms));
  ARRAY(LowState_refine, 0, "", footForce);
  ARRAY(LowState_refine, 0, "", footForceEst);
  FIELD(LowState_refine, 0, "", tick);
  FIELD(LowState_refine, 0, "", wirelessRemote);
  Trailer<LowState_refine>(0);
}

bool Print(const char* record, size_t size, void (*layout)()) {
  g_leaves.clear();
  layout();
  size_t next = 0;
  bool whole = true;
  for (const Leaf& l : g_leaves) {
    std::printf("%s %s %zu %zu\n", record, l.path.c_str(), l.offset, l.size);
    whole = whole && l.offset == next;
    next = l.offset + l.size;
  }
  if (!whole || next != size) {
    std::fprintf(stderr, "record_layout: the fields of %s do not cover its %zu bytes\n", record,
                 size);
    return false;
  }
  return true;
}

}  // namespace

int main() {
  bool ok = Print("HighCmd", sizeof(HighCmd), HighCmdLayout);
  ok = Print("HighState", sizeof(HighState), HighStateLayout) && ok;
  ok = Print("LowCmd_refine", sizeof(LowCmd_refine), LowCmdLayout) && ok;
  ok = Print("LowState_refine", sizeof(LowState_refine), LowStateLayout) && ok;
  return ok ? 0 : 1;
}
