#include "torvane/safety.h"

#include <cmath>

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

void Safety::PositionLimit(LowCmd& cmd) {
  // Each bound is rounded to float before it is applied. Packed fields are clamped through a
  // local, never through a reference into the record.
  auto limit = [&cmd](int slot, double lower, double upper) {
    float q = cmd.motorCmd[slot].q;
    clamp(q, static_cast<float>(lower), static_cast<float>(upper));
    cmd.motorCmd[slot].q = q;
  };
  limit(0, -hipMax, -hipMin);  // FR, RR: the right hips are mirrored
  limit(3, hipMin, hipMax);
  limit(6, -hipMax, -hipMin);
  limit(9, hipMin, hipMax);
  for (int leg = 0; leg < 4; ++leg) {
    limit(3 * leg + 1, thighMin, thighMax);
    limit(3 * leg + 2, calfMin, calfMax);
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
  const double m = limit;
  bool any_out = false;
  // A position that is not a number fails closed: it counts as out of range.
  auto out = [&state](int slot, double lower, double upper) {
    const double q = state.motorState[slot].q;
    return std::isnan(q) || q < lower || q > upper;
  };
  struct Hip {
    int slot;
    bool right;
    const char* name;
  };
  for (const Hip& h :
       {Hip{0, true, "FR 0"}, Hip{3, false, "FL 0"}, Hip{6, true, "RR 0"}, Hip{9, false, "RL 0"}}) {
    const bool is_out =
        h.right ? out(h.slot, m - hipMax, -hipMin - m) : out(h.slot, hipMin + m, hipMax - m);
    if (is_out) {
      Line("%s", h.name);
      any_out = true;
    }
  }
  auto degrees = [&state](int slot) {
    const float scaled = state.motorState[slot].q * 180.0f;
    return static_cast<double>(scaled) / 3.141592653589793;
  };
  for (int leg = 0; leg < 4; ++leg) {
    const int thigh = 3 * leg + 1, calf = 3 * leg + 2;
    if (out(thigh, thighMin + m, thighMax - m)) {
      Line("leg %d thigh: %f", leg, degrees(thigh));
      any_out = true;
    }
    if (out(calf, calfMin + m, calfMax - m)) {
      Line("leg %d calf: %f", leg, degrees(calf));
      any_out = true;
    }
  }
  if (!any_out) return 1;
  LegMotorsOff(cmd);
  Line("Error: Position Protection.");
  return -1;
}

}  // namespace TORVANE
