// The flight recorder: the ring keeps the newest entries oldest first, the CSV is exactly as
// documented, files are made where asked and failures are reported.
#include "torvane/flight_recorder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "udp_test_util.h"

using namespace TORVANE;
using namespace torvane_test;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/torvane-recorder-XXXXXX";
    path_ = mkdtemp(name);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// n copies of ",0".
std::string Zeros(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += ",0";
  return s;
}

}  // namespace

TEST(FlightRecorder, RingKeepsTheNewestOldestFirst) {
  LowFlightRecorder r(3);
  ASSERT_TRUE(r.Valid());
  EXPECT_EQ(r.Capacity(), 3u);
  EXPECT_EQ(r.Size(), 0u);
  LowCmd cmd{};
  LowState state{};
  for (int i = 1; i <= 5; ++i) {
    cmd.motorCmd[0].q = static_cast<float>(i);
    state.tick = static_cast<uint32_t>(10 * i);
    r.Record(0.5 * i, cmd, -i, state);
    EXPECT_EQ(r.Size(), i < 3 ? static_cast<size_t>(i) : 3u);
  }
  EXPECT_EQ(r.Recorded(), 5u);
  for (size_t k = 0; k < 3; ++k) {
    const auto& e = r.At(k);
    const int i = static_cast<int>(k) + 3;
    EXPECT_DOUBLE_EQ(e.time_s, 0.5 * i);
    EXPECT_EQ(e.recv_result, -i);
    EXPECT_EQ(e.cmd.motorCmd[0].q, static_cast<float>(i));
    EXPECT_EQ(e.state.tick, static_cast<uint32_t>(10 * i));
  }
  r.Clear();
  EXPECT_EQ(r.Size(), 0u);
  r.Record(9.0, cmd, 0, state);
  EXPECT_DOUBLE_EQ(r.At(0).time_s, 9.0);
}

TEST(FlightRecorder, CapacityFromSecondsAndRate) {
  EXPECT_EQ(HighFlightRecorder::CapacityFor(2.0, 500.0), 1000u);
  EXPECT_EQ(HighFlightRecorder::CapacityFor(2.0, 1000.0), 2000u);
  EXPECT_EQ(HighFlightRecorder::CapacityFor(0.0001, 500.0), 1u);
  EXPECT_EQ(HighFlightRecorder::CapacityFor(0.0, 500.0), 0u);
  EXPECT_EQ(HighFlightRecorder::CapacityFor(2.0, -1.0), 0u);
  Captured c = Capture([] {
    HighFlightRecorder r(0);
    EXPECT_FALSE(r.Valid());
    r.Record(1.0, HighCmd{}, 0, HighState{});
    EXPECT_EQ(r.Size(), 0u);
  });
  EXPECT_EQ(c.out, "[Error] FlightRecorder: the capacity must be 1 to 10000000 cycles, not 0\n");
}

// The whole file of a two-entry high-level ring, byte for byte.
TEST(FlightRecorder, HighLevelCsvExactly) {
  TempDir dir;
  HighFlightRecorder r(2);
  HighCmd cmd{};
  HighState state{};
  r.Record(0.25, cmd, -1, state);  // pushed out by the next two
  cmd.mode = 1;
  cmd.velocity[0] = 0.1f;
  state.imu.rpy[2] = 1e-8f;
  state.motorState[11].tauEst = -2.5f;
  state.motorState[12].tauEst = 7.0f;  // slots 12..19 are left out
  state.bms.current = -1234;
  r.Record(1.5, cmd, 0, state);
  r.Record(2.25e-6, HighCmd{}, -2, HighState{});
  const std::string path = dir.path() + "/high.csv";
  ASSERT_EQ(r.WriteCsv(path.c_str()), 0);

  std::string header =
      "time_s,recv_result,cmd.mode,cmd.gaitType,cmd.speedLevel,cmd.footRaiseHeight,"
      "cmd.bodyHeight,cmd.position[0],cmd.position[1],cmd.euler[0],cmd.euler[1],cmd.euler[2],"
      "cmd.velocity[0],cmd.velocity[1],cmd.yawSpeed,state.mode,state.progress,state.gaitType,"
      "state.footRaiseHeight,state.position[0],state.position[1],state.position[2],"
      "state.bodyHeight,state.velocity[0],state.velocity[1],state.velocity[2],state.yawSpeed,"
      "state.imu.quaternion[0],state.imu.quaternion[1],state.imu.quaternion[2],"
      "state.imu.quaternion[3],state.imu.gyroscope[0],state.imu.gyroscope[1],"
      "state.imu.gyroscope[2],state.imu.accelerometer[0],state.imu.accelerometer[1],"
      "state.imu.accelerometer[2],state.imu.rpy[0],state.imu.rpy[1],state.imu.rpy[2]";
  for (int i = 0; i < 12; ++i) {
    const std::string m = ",state.motorState[" + std::to_string(i) + "]";
    header += m + ".q" + m + ".dq" + m + ".tauEst";
  }
  header +=
      ",state.footForce[0],state.footForce[1],state.footForce[2],state.footForce[3],"
      "state.bms.SOC,state.bms.current\n";
  const std::string first = "1.500000,0,1" + Zeros(9) + ",0.1" + Zeros(2) + Zeros(24) + ",1e-08" +
                            Zeros(35) + ",-2.5" + Zeros(5) + ",-1234\n";
  const std::string second = "0.000002,-2" + Zeros(80) + "\n";
  EXPECT_EQ(ReadFile(path), header + first + second);
}

TEST(FlightRecorder, LowLevelCsvColumns) {
  TempDir dir;
  LowFlightRecorder r(4);
  LowCmd cmd{};
  LowState state{};
  cmd.motorCmd[11].Kd = 3.0f;
  state.tick = 4000000000u;
  state.motorState[0].temperature = -5;
  r.Record(12.0, cmd, 0, state);
  const std::string path = dir.path() + "/low.csv";
  ASSERT_EQ(r.WriteCsv(path.c_str()), 0);
  const std::string text = ReadFile(path);
  const size_t end = text.find('\n');
  const std::string header = text.substr(0, end);
  const std::string row = text.substr(end + 1);
  EXPECT_EQ(header.rfind("time_s,recv_result,cmd.motorCmd[0].mode,cmd.motorCmd[0].q,", 0), 0u);
  EXPECT_NE(header.find(",cmd.motorCmd[11].Kd,state.tick,state.imu.quaternion[0],"),
            std::string::npos);
  EXPECT_NE(header.find(",state.motorState[11].temperature,state.footForce[0],"),
            std::string::npos);
  EXPECT_EQ(std::count(header.begin(), header.end(), ','), 2 + 72 + 1 + 13 + 60 + 6 - 1);
  EXPECT_EQ(row.rfind("12.000000,0," + std::string("0,0,0,0,0,0,"), 0), 0u);
  EXPECT_NE(row.find(",3,4000000000,"), std::string::npos);  // Kd of slot 11, then the tick
  EXPECT_EQ(std::count(row.begin(), row.end(), ','), std::count(header.begin(), header.end(), ','));
}

TEST(FlightRecorder, FilesInADirectoryAndFailures) {
  TempDir dir;
  HighFlightRecorder r(2);
  r.Record(1.0, HighCmd{}, 0, HighState{});
  char first[256];
  char second[256];
  ASSERT_EQ(r.WriteCsvInDirectory(dir.path().c_str(), first, sizeof first), 0);
  ASSERT_EQ(r.WriteCsvInDirectory(dir.path().c_str(), second, sizeof second), 0);
  const std::string prefix = dir.path() + "/flight-high-";
  EXPECT_EQ(std::string(first).rfind(prefix, 0), 0u) << first;
  EXPECT_NE(std::string(first), std::string(second));
  EXPECT_EQ(ReadFile(first), ReadFile(second));
  EXPECT_EQ(ReadFile(first).rfind("time_s,recv_result,", 0), 0u);

  const std::string missing = dir.path() + "/no/such/dir";
  Captured c = Capture([&] {
    char name[256] = "x";
    EXPECT_EQ(r.WriteCsvInDirectory(missing.c_str(), name, sizeof name), -1);
    EXPECT_EQ(name[0], '\0');
    EXPECT_EQ(r.WriteCsv((missing + "/a.csv").c_str()), -1);
    char tiny[8];
    EXPECT_EQ(r.WriteCsvInDirectory(dir.path().c_str(), tiny, sizeof tiny), -1);
  });
  EXPECT_EQ(c.out.rfind("[Error] FlightRecorder: cannot write " + missing + "/flight-high-", 0), 0u)
      << c.out;
  EXPECT_NE(c.out.find("[Error] FlightRecorder: cannot write " + missing +
                       "/a.csv: No such file or directory\n"),
            std::string::npos);
  EXPECT_NE(c.out.find("does not fit in 8 bytes\n"), std::string::npos);
}
