// UDP endpoint: one end of a datagram link with the robot's controller.
#pragma once

#include "torvane/records.h"

namespace TORVANE {

class UDP {
 public:
  // Writes HEAD and the high-level flag into `cmd`; nothing else is touched.
  void InitCmdData(HighCmd& cmd);
  // Writes HEAD, the low-level flag and the safe defaults of all 20 motor slots (mode 10,
  // q POSITION_STOP, dq VELOCITY_STOP, tau Kp Kd 0); nothing else is touched.
  void InitCmdData(LowCmd& cmd);
};

}  // namespace TORVANE
