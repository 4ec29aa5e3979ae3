#include "torvane/udp.h"

namespace TORVANE {

void UDP::InitCmdData(HighCmd& cmd) {
  cmd.head[0] = HEAD[0];
  cmd.head[1] = HEAD[1];
  cmd.levelFlag = HIGH_LEVEL_FLAG;
}

void UDP::InitCmdData(LowCmd& cmd) {
  cmd.head[0] = HEAD[0];
  cmd.head[1] = HEAD[1];
  cmd.levelFlag = LOW_LEVEL_FLAG;
  for (MotorCmd& m : cmd.motorCmd) {
    m.mode = 10;
    m.q = POSITION_STOP;
    m.dq = VELOCITY_STOP;
    m.tau = 0.0f;
    m.Kp = 0.0f;
    m.Kd = 0.0f;
  }
}

}  // namespace TORVANE
