#include "program/motion_log.h"

#include <cerrno>
#include <cmath>
#include <cstring>

namespace torvane_sim {
namespace {

void Value(std::FILE* f, double v) {
  if (std::isfinite(v)) {
    std::fprintf(f, ",%.6g", v);
  } else {
    std::fputc(',', f);
  }
}

}  // namespace

MotionLog::~MotionLog() {
  if (file_ != nullptr) std::fclose(file_);
}

bool MotionLog::Open(const std::string& path, std::string& error) {
  file_ = std::fopen(path.c_str(), "w");
  if (file_ == nullptr) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  std::fputs("t,x,y,z,yaw", file_);
  for (int j = 0; j < 12; ++j) std::fprintf(file_, ",q%d", j);
  for (int j = 0; j < 12; ++j) std::fprintf(file_, ",qref%d", j);
  for (int leg = 0; leg < 4; ++leg) std::fprintf(file_, ",force%d", leg);
  std::fputc('\n', file_);
  return true;
}

void MotionLog::Write(const MotionRow& row) {
  if (file_ == nullptr) return;
  std::fprintf(file_, "%.4f", row.t);
  for (double v : {row.x, row.y, row.z, row.yaw}) Value(file_, v);
  for (double v : row.q) Value(file_, v);
  for (double v : row.q_ref) Value(file_, v);
  for (double v : row.force) Value(file_, v);
  std::fputc('\n', file_);
}

}  // namespace torvane_sim
