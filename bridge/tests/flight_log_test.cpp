// The bridge's flight log fed cycle by cycle: which events write a file, and how many.
#include "flight_log.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace torvane_bridge {
namespace {

constexpr double kRate = 500;

class FlightLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "flight-log-XXXXXX";
    ASSERT_NE(mkdtemp(dir_.data()), nullptr);
  }
  void TearDown() override {
    for (const std::string& f : Files()) std::remove((dir_ + "/" + f).c_str());
    rmdir(dir_.c_str());
  }

  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir_.c_str())) {
      while (dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') names.emplace_back(e->d_name);
      }
      closedir(d);
    }
    return names;
  }

  // Waits (bounded) until the writer has written `n` files.
  static bool WrittenWithin(const FlightLog& log, int n) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (log.Written() < n) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::yield();
    }
    return true;
  }

  void Cycles(FlightLog& log, int n, bool new_state, bool tripped = false) {
    for (int i = 0; i < n; ++i) {
      time_ += 1 / kRate;
      log.Cycle(time_, cmd_, new_state, state_, tripped);
    }
  }

  std::string dir_;
  double time_ = 0;
  TORVANE::LowCmd cmd_{};
  TORVANE::LowState state_{};
};

TEST_F(FlightLogTest, NoLinkYetIsNoLostLink) {
  FlightLog log(false, kRate, dir_);
  log.Start();
  Cycles(log, 2000, false);  // a bridge started before its robot
  log.Stop();
  EXPECT_EQ(log.Written(), 0);
  EXPECT_TRUE(Files().empty());
}

TEST_F(FlightLogTest, LostLinkWritesOneFileOnce) {
  FlightLog log(false, kRate, dir_);
  log.Start();
  Cycles(log, 100, true);
  Cycles(log, 499, false);
  EXPECT_EQ(log.Written(), 0);
  Cycles(log, 1, false);  // the 500th cycle without a state: 1 s at 500 Hz
  ASSERT_TRUE(WrittenWithin(log, 1));
  Cycles(log, 2000, false);  // still lost: no second file
  log.Stop();
  EXPECT_EQ(log.Written(), 1);
  ASSERT_EQ(Files().size(), 1u);
  EXPECT_EQ(Files()[0].rfind("flight-low-", 0), 0u) << Files()[0];
}

TEST_F(FlightLogTest, EachTripWritesOnItsFirstCycleUpToTheCap) {
  FlightLog log(false, kRate, dir_);
  log.Start();
  Cycles(log, 10, true);
  for (int trip = 1; trip <= FlightLog::kMaxRecords + 5; ++trip) {
    Cycles(log, 50, true, /*tripped=*/true);  // a trip lasting 50 cycles is one event
    Cycles(log, 5, true);
    if (trip <= FlightLog::kMaxRecords) {
      ASSERT_TRUE(WrittenWithin(log, trip)) << trip;
    }
  }
  log.Stop();
  EXPECT_EQ(log.Written(), FlightLog::kMaxRecords);
  EXPECT_EQ(Files().size(), static_cast<size_t>(FlightLog::kMaxRecords));
}

}  // namespace
}  // namespace torvane_bridge
