// The flight recorder's ring and its CSV form.
#include "torvane/flight_recorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "console.h"

namespace TORVANE {

namespace {

constexpr size_t kMaxCapacity = 10000000;

// The CSV's columns are listed once per level (Columns below) and walked twice: by a Header,
// which writes their names, and by a Row, which writes one entry's values.
class Header {
 public:
  explicit Header(FILE* f) : f_(f) {}
  void Time(double) { Name("time_s", -1, ""); }
  void Num(const char* name, int index, const char* field, double) { Name(name, index, field); }
  void Int(const char* name, int index, const char* field, long long) { Name(name, index, field); }
  void End() { std::fputc('\n', f_); }

 private:
  void Name(const char* name, int index, const char* field) {
    if (!first_) std::fputc(',', f_);
    first_ = false;
    if (index < 0) {
      std::fprintf(f_, "%s%s", name, field);
    } else {
      std::fprintf(f_, "%s[%d]%s", name, index, field);
    }
  }
  FILE* f_;
  bool first_ = true;
};

class Row {
 public:
  explicit Row(FILE* f) : f_(f) {}
  // Seconds to the microsecond.
  void Time(double t) {
    Separator();
    std::fprintf(f_, "%.6f", t);
  }
  // Floats in their shortest form that reads back to the same float (0.1, not 0.100000001).
  void Num(const char*, int, const char*, double v) {
    Separator();
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, static_cast<float>(v));
    std::fwrite(text, 1, static_cast<size_t>(r.ptr - text), f_);
  }
  void Int(const char*, int, const char*, long long v) {
    Separator();
    std::fprintf(f_, "%lld", v);
  }
  void End() {
    std::fputc('\n', f_);
    first_ = true;
  }

 private:
  void Separator() {
    if (!first_) std::fputc(',', f_);
    first_ = false;
  }
  FILE* f_;
  bool first_ = true;
};

constexpr int kLegSlots = 12;  // slots 0..11 are the leg joints; 12..19 carry nothing

template <typename Out, typename Array>
void Floats(Out& out, const char* name, const Array& a) {
  for (size_t i = 0; i < a.size(); ++i) out.Num(name, static_cast<int>(i), "", a[i]);
}

template <typename Out>
void Imu(Out& out, const IMU& imu) {
  Floats(out, "state.imu.quaternion", imu.quaternion);
  Floats(out, "state.imu.gyroscope", imu.gyroscope);
  Floats(out, "state.imu.accelerometer", imu.accelerometer);
  Floats(out, "state.imu.rpy", imu.rpy);
}

template <typename Out, typename State>
void FootForceAndBattery(Out& out, const State& s) {
  for (int i = 0; i < 4; ++i) out.Int("state.footForce", i, "", s.footForce[i]);
  out.Int("state.bms.SOC", -1, "", s.bms.SOC);
  out.Int("state.bms.current", -1, "", s.bms.current);
}

template <typename Out>
void Columns(Out& out, const FlightRecorder<HighCmd, HighState>::Entry& e) {
  const HighCmd& c = e.cmd;
  const HighState& s = e.state;
  out.Time(e.time_s);
  out.Int("recv_result", -1, "", e.recv_result);
  out.Int("cmd.mode", -1, "", c.mode);
  out.Int("cmd.gaitType", -1, "", c.gaitType);
  out.Int("cmd.speedLevel", -1, "", c.speedLevel);
  out.Num("cmd.footRaiseHeight", -1, "", c.footRaiseHeight);
  out.Num("cmd.bodyHeight", -1, "", c.bodyHeight);
  Floats(out, "cmd.position", c.position);
  Floats(out, "cmd.euler", c.euler);
  Floats(out, "cmd.velocity", c.velocity);
  out.Num("cmd.yawSpeed", -1, "", c.yawSpeed);
  out.Int("state.mode", -1, "", s.mode);
  out.Num("state.progress", -1, "", s.progress);
  out.Int("state.gaitType", -1, "", s.gaitType);
  out.Num("state.footRaiseHeight", -1, "", s.footRaiseHeight);
  Floats(out, "state.position", s.position);
  out.Num("state.bodyHeight", -1, "", s.bodyHeight);
  Floats(out, "state.velocity", s.velocity);
  out.Num("state.yawSpeed", -1, "", s.yawSpeed);
  Imu(out, s.imu);
  for (int i = 0; i < kLegSlots; ++i) {
    const MotorState& m = s.motorState[i];
    out.Num("state.motorState", i, ".q", m.q);
    out.Num("state.motorState", i, ".dq", m.dq);
    out.Num("state.motorState", i, ".tauEst", m.tauEst);
  }
  FootForceAndBattery(out, s);
  out.End();
}

template <typename Out>
void Columns(Out& out, const FlightRecorder<LowCmd, LowState>::Entry& e) {
  const LowCmd& c = e.cmd;
  const LowState& s = e.state;
  out.Time(e.time_s);
  out.Int("recv_result", -1, "", e.recv_result);
  for (int i = 0; i < kLegSlots; ++i) {
    const MotorCmd& m = c.motorCmd[i];
    out.Int("cmd.motorCmd", i, ".mode", m.mode);
    out.Num("cmd.motorCmd", i, ".q", m.q);
    out.Num("cmd.motorCmd", i, ".dq", m.dq);
    out.Num("cmd.motorCmd", i, ".tau", m.tau);
    out.Num("cmd.motorCmd", i, ".Kp", m.Kp);
    out.Num("cmd.motorCmd", i, ".Kd", m.Kd);
  }
  out.Int("state.tick", -1, "", s.tick);
  Imu(out, s.imu);
  for (int i = 0; i < kLegSlots; ++i) {
    const MotorState& m = s.motorState[i];
    out.Int("state.motorState", i, ".mode", m.mode);
    out.Num("state.motorState", i, ".q", m.q);
    out.Num("state.motorState", i, ".dq", m.dq);
    out.Num("state.motorState", i, ".tauEst", m.tauEst);
    out.Int("state.motorState", i, ".temperature", m.temperature);
  }
  FootForceAndBattery(out, s);
  out.End();
}

const char* LevelName(const HighCmd*) {
  return "high";
}
const char* LevelName(const LowCmd*) {
  return "low";
}

}  // namespace

template <typename Cmd, typename State>
FlightRecorder<Cmd, State>::FlightRecorder(size_t capacity) {
  if (capacity == 0 || capacity > kMaxCapacity) {
    detail::Line("[Error] FlightRecorder: the capacity must be 1 to %zu cycles, not %zu",
                 kMaxCapacity, capacity);
    return;
  }
  ring_.reset(new Entry[capacity]());
  capacity_ = capacity;
}

template <typename Cmd, typename State>
size_t FlightRecorder<Cmd, State>::CapacityFor(double seconds, double rate_hz) {
  if (!(seconds > 0) || !(rate_hz > 0)) return 0;
  const double cycles = std::floor(seconds * rate_hz + 0.5);
  if (!(cycles < static_cast<double>(kMaxCapacity))) return kMaxCapacity + 1;
  return cycles < 1 ? 1 : static_cast<size_t>(cycles);
}

template <typename Cmd, typename State>
void FlightRecorder<Cmd, State>::Record(double time_s, const Cmd& cmd, int recv_result,
                                        const State& state) {
  if (capacity_ == 0) return;
  Entry& e = ring_[head_];
  e.time_s = time_s;
  e.recv_result = recv_result;
  std::memcpy(&e.cmd, &cmd, sizeof cmd);
  std::memcpy(&e.state, &state, sizeof state);
  head_ = head_ + 1 == capacity_ ? 0 : head_ + 1;
  if (size_ < capacity_) ++size_;
  ++recorded_;
}

template <typename Cmd, typename State>
const typename FlightRecorder<Cmd, State>::Entry& FlightRecorder<Cmd, State>::At(size_t i) const {
  const size_t oldest = size_ < capacity_ ? 0 : head_;
  const size_t slot = oldest + i;
  return ring_[slot >= capacity_ ? slot - capacity_ : slot];
}

template <typename Cmd, typename State>
int FlightRecorder<Cmd, State>::WriteCsv(const char* path) const {
  if (path == nullptr || path[0] == '\0') {
    detail::Line("[Error] FlightRecorder: cannot write a file without a name");
    return -1;
  }
  FILE* f = std::fopen(path, "w");
  if (f == nullptr) {
    detail::Line("[Error] FlightRecorder: cannot write %s: %s", path, std::strerror(errno));
    return -1;
  }
  static const Entry zero{};
  Header header(f);
  Columns(header, zero);
  Row row(f);
  for (size_t i = 0; i < size_; ++i) {
    Columns(row, At(i));
  }
  const bool written = std::ferror(f) == 0;
  const int saved = errno;
  if (std::fclose(f) != 0 || !written) {
    detail::Line("[Error] FlightRecorder: cannot write %s: %s", path,
                 std::strerror(written ? errno : saved));
    return -1;
  }
  return 0;
}

template <typename Cmd, typename State>
int FlightRecorder<Cmd, State>::WriteCsvInDirectory(const char* dir, char* path,
                                                    size_t path_size) const {
  if (dir == nullptr || path == nullptr || path_size == 0) {
    detail::Line("[Error] FlightRecorder: no directory or no room for the file's name");
    return -1;
  }
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const char* level = LevelName(static_cast<const Cmd*>(nullptr));
  // A second file within the same millisecond gets a number of its own.
  for (int n = 0; n < 100; ++n) {
    char suffix[8] = "";
    if (n > 0) std::snprintf(suffix, sizeof suffix, "-%d", n);
    const int length = std::snprintf(path, path_size, "%s/flight-%s-%s.%03ld%s.csv", dir, level,
                                     stamp, static_cast<long>(now.tv_nsec / 1000000), suffix);
    if (length < 0 || static_cast<size_t>(length) >= path_size) {
      detail::Line("[Error] FlightRecorder: the file's name in %s does not fit in %zu bytes", dir,
                   path_size);
      path[0] = '\0';
      return -1;
    }
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) {
      detail::Line("[Error] FlightRecorder: cannot write %s: %s", path, std::strerror(errno));
      path[0] = '\0';
      return -1;
    }
    close(fd);
    if (WriteCsv(path) != 0) {
      unlink(path);
      path[0] = '\0';
      return -1;
    }
    return 0;
  }
  detail::Line("[Error] FlightRecorder: too many files named %s in %s", stamp, dir);
  path[0] = '\0';
  return -1;
}

template class FlightRecorder<HighCmd, HighState>;
template class FlightRecorder<LowCmd, LowState>;

}  // namespace TORVANE
