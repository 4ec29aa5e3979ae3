// The robot's motion as CSV for plotting, one row per state period:
//   t,x,y,z,yaw,q0..q11,qref0..qref11,force0..force3
// t [s], trunk position [m] and heading [rad] in the world, joint positions and their commanded
// targets [rad], foot forces [N]. A value the running model does not know is left empty.
#pragma once

#include <cstdio>
#include <string>

#include "models/motion_row.h"

namespace torvane_sim {

class MotionLog {
 public:
  MotionLog() = default;
  ~MotionLog();
  MotionLog(const MotionLog&) = delete;
  MotionLog& operator=(const MotionLog&) = delete;

  // Creates (or truncates) the file and writes the header. Returns false, with `error` set to
  // one line, if it cannot.
  bool Open(const std::string& path, std::string& error);
  bool is_open() const { return file_ != nullptr; }
  // Appends a row; NaN values are written empty.
  void Write(const MotionRow& row);

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace torvane_sim
