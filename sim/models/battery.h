// The battery as the physics and the joint model play it: it drains a little every second and more
// under the motors' load, and the state reports its charge, current and cells from that.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "torvane/packing.h"
#include "torvane/records.h"

namespace torvane_sim {

constexpr double kDrainPerSecond = 1.0 / 60.0;  // [% / s], a little more under load

// The charge [%] after `dt` seconds under `load`, the motors' summed |tau * dq| [W].
inline double Drained(double charge, double dt, double load) {
  return std::max(0.0, charge - dt * (kDrainPerSecond + load * 1e-4));
}

// The battery's part of the state at `charge` [%], at either level. It measures its cells in
// steps of 32 mV, which the packed low-level form carries as they are and the high level in mV.
template <typename Bms>
inline void FillBattery(Bms& bms, double charge) {
  bms.version_h = 1;
  bms.version_l = 2;
  bms.SOC = static_cast<uint8_t>(std::lround(charge));
  bms.current = -static_cast<int32_t>(1000 + 50 * (100.0 - charge));  // [mA], discharging
  bms.BQ_NTC = {30, 31};
  bms.MCU_NTC = {33, 33};
  const double cell_mv = 3300.0 + 900.0 * charge / 100.0;
  const uint8_t steps = static_cast<uint8_t>(cell_mv / 32.0);
  for (auto& c : bms.cell_vol) {
    c = sizeof c == 1 ? steps : static_cast<uint16_t>(steps * 32u);
  }
}

}  // namespace torvane_sim
