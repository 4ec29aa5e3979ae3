#include "torvane/safety.h"

#include <cmath>
#include <cstdio>

#include "console.h"

namespace TORVANE {

using detail::Line;

namespace {

struct JointRanges {
  double hipMax, hipMin, thighMax, thighMin, calfMax, calfMin;
};

constexpr JointRanges kRanges[] = {
    {1.047, -0.873, 3.927, -0.524, -0.611, -2.775},  // Zorvan
    {0.802, -0.802, 4.19, -1.05, -0.916, -2.7},      // Pellix
    {1.047, -1.047, 2.966, -0.663, -0.837, -2.721},  // Tamrin
    {0.75, -0.75, 3.5, -1.0, -0.6, -2.6},            // Vesko
};

constexpr int kLegJoints = 12;
constexpr int kCountCeiling = 10;
constexpr int kTripAbove = 5;

void LegMotorsOff(LowCmd& cmd) {
  for (int s = 0; s < kLegJoints; ++s) cmd.motorCmd[s].mode = 0;
}

}  // namespace

void clamp(float& value, float lower, float upper) {
  if (value < lower) value = lower;
  if (value > upper) value = upper;
}

Safety::Safety(LeggedType type)
    : powerLimit(1000),
      overPowerCount(0),
      hipMax(0.0),
      hipMin(0.0),
      thighMax(0.0),
      thighMin(0.0),
      calfMax(0.0),
      calfMin(0.0) {
  const auto index = static_cast<int32_t>(type);
  if (index < 0 || index > 3) {
    Line("Legged Robot Type Error.");
    return;
  }
  const JointRanges& r = kRanges[index];
  hipMax = r.hipMax;
  hipMin = r.hipMin;
  thighMax = r.thighMax;
  thighMin = r.thighMin;
  calfMax = r.calfMax;
  calfMin = r.calfMin;
}

Safety::~Safety() {
  Line("End Safety.");
}

Safety::Range Safety::JointRange(int slot) const {
  switch (slot % 3) {
    case 0:
      return slot == 0 || slot == 6 ? Range{-hipMax, -hipMin} : Range{hipMin, hipMax};
    case 1:
      return {thighMin, thighMax};
    default:
      return {calfMin, calfMax};
  }
}

void Safety::PositionLimit(LowCmd& cmd) {
  // A NaN target cannot be clamped into a range and the robot would take it as it is: the guard
  // fails closed and switches the leg motors off, as a tripped protection does.
  char nan_slots[3 * kLegJoints + 1];
  int written = 0;
  for (int s = 0; s < kLegJoints; ++s) {
    if (std::isnan(cmd.motorCmd[s].q)) {
      written += std::snprintf(nan_slots + written, sizeof nan_slots - static_cast<size_t>(written),
                               " %d", s);
    }
  }
  if (written > 0) {
    LegMotorsOff(cmd);
    Line("Error: Position Limit: NaN target in leg slot(s)%s; leg motors off.", nan_slots);
  }
  // Each bound is rounded to float before it is applied. Packed fields are clamped through a
  // local, never through a reference into the record.
  auto limit = [&](int slot) {
    const Range r = JointRange(slot);
    float q = cmd.motorCmd[slot].q;
    clamp(q, static_cast<float>(r.lower), static_cast<float>(r.upper));
    cmd.motorCmd[slot].q = q;
  };
  for (int hip : {0, 3, 6, 9}) limit(hip);  // the hips first, then thigh and calf leg by leg
  for (int leg = 0; leg < 4; ++leg) {
    limit(3 * leg + 1);
    limit(3 * leg + 2);
  }
}

int Safety::PowerProtect(LowCmd& cmd, LowState& state, int factor) {
  const int steps = factor <= 0 ? 1 : (factor > 10 ? 10 : factor);
  const double scale = steps / 10.0;
  double power = 0.0;
  for (int s = 0; s < kLegJoints; ++s) {
    const float p = state.motorState[s].tauEst * state.motorState[s].dq;
    power += static_cast<double>(std::fabs(p));
  }
  const double threshold = powerLimit * scale;

  bool trip;
  // A power that is not a number fails closed: it counts as an overload.
  if (power > threshold || std::isnan(power)) {
    ++overPowerCount;
    if (overPowerCount > kCountCeiling) overPowerCount = kCountCeiling;
    trip = overPowerCount > kTripAbove;
  } else {
    if (overPowerCount <= 0) return 1;
    --overPowerCount;
    trip = overPowerCount > kTripAbove;
  }
  if (!trip) return 1;
  LegMotorsOff(cmd);
  Line("Error: Power Protection.");
  return -1;
}

int Safety::PositionProtect(LowCmd& cmd, LowState& state, double limit) {
  bool any_out = false;
  // Out below lower + limit or above upper - limit; a position that is not a number fails
  // closed and counts as out.
  auto out = [&](int slot) {
    const Range r = JointRange(slot);
    const double q = state.motorState[slot].q;
    const bool is_out = std::isnan(q) || q < r.lower + limit || q > r.upper - limit;
    any_out = any_out || is_out;
    return is_out;
  };
  auto degrees = [&state](int slot) {
    const float scaled = state.motorState[slot].q * 180.0f;
    return static_cast<double>(scaled) / 3.141592653589793;
  };
  static const char* const kHipNames[] = {"FR 0", "FL 0", "RR 0", "RL 0"};
  for (int leg = 0; leg < 4; ++leg) {
    if (out(3 * leg)) Line("%s", kHipNames[leg]);
  }
  for (int leg = 0; leg < 4; ++leg) {
    if (out(3 * leg + 1)) Line("leg %d thigh: %f", leg, degrees(3 * leg + 1));
    if (out(3 * leg + 2)) Line("leg %d calf: %f", leg, degrees(3 * leg + 2));
  }
  if (!any_out) return 1;
  LegMotorsOff(cmd);
  Line("Error: Position Protection.");
  return -1;
}

}  // namespace TORVANE
