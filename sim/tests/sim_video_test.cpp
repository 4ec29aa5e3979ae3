// torvane-sim --video: the built-in trot filmed in lockstep, checked with ffprobe and ffmpeg's
// own decoding: one frame per 1/fps of simulated time, frames that show something, and a robot
// that moves between the first frame and the last.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "child_process/child_process.h"
#include "sim_command.h"
#include "torvane/udp.h"
#include "torvane_test/loopback_peer.h"
#include "torvane_test/sim_process.h"
#include "torvane_testing/transport_reset.h"

using namespace TORVANE;
using namespace torvane_test;

namespace {

constexpr int kRate = 500;
constexpr int kWidth = 320, kHeight = 240;

struct ToolRun {
  int status = -1;  // exit status; -1 if it had to be killed or could not start
  std::string out;  // standard output and standard error together
};

// Runs `args` with `env` ("NAME=value" put before this process's environment) and collects its
// output; stopped after 60 s.
ToolRun RunTool(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
  ToolRun run;
  torvane_child::ChildOptions options;
  options.extra_env = env;
  torvane_child::ChildProcess child(args, options);
  if (!child.running()) return run;
  const torvane_child::Ending end = child.Wait(60000);
  for (const std::string& line : child.Remaining()) run.out += line + "\n";
  if (!end.killed && end.signal == 0) run.status = end.exit_code;
  return run;
}

bool HaveFfmpeg() {
  return RunTool({"ffprobe", "-version"}).status == 0 &&
         RunTool({"ffmpeg", "-version"}).status == 0;
}

int CountFrames(const std::string& path) {
  const ToolRun run = RunTool({"ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                               "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path});
  return run.status == 0 ? std::atoi(run.out.c_str()) : -1;
}

// Frame `index` of the video, decoded to RGB bytes (kWidth * kHeight * 3; empty on failure).
std::vector<uint8_t> Frame(const std::string& path, int index) {
  const std::string raw = path + ".frame" + std::to_string(index) + ".rgb";
  const ToolRun run = RunTool({"ffmpeg", "-v", "error", "-y", "-i", path, "-vf",
                               "select=eq(n\\," + std::to_string(index) + ")", "-frames:v", "1",
                               "-f", "rawvideo", "-pix_fmt", "rgb24", raw});
  std::ifstream file(raw, std::ios::binary);
  std::vector<uint8_t> rgb((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
  std::remove(raw.c_str());
  if (run.status != 0 || rgb.size() != static_cast<size_t>(kWidth) * kHeight * 3) return {};
  return rgb;
}

double Variance(const std::vector<uint8_t>& rgb) {
  double sum = 0, squares = 0;
  for (uint8_t v : rgb) {
    sum += v;
    squares += static_cast<double>(v) * v;
  }
  const double mean = sum / rgb.size();
  return squares / rgb.size() - mean * mean;
}

// Mean absolute difference over the middle third of the picture, where the followed robot is.
double MiddleDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double sum = 0;
  int count = 0;
  for (int y = kHeight / 3; y < 2 * kHeight / 3; ++y) {
    for (int x = kWidth / 3; x < 2 * kWidth / 3; ++x) {
      for (int c = 0; c < 3; ++c) {
        const size_t i = (static_cast<size_t>(y) * kWidth + x) * 3 + c;
        sum += std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
        ++count;
      }
    }
  }
  return sum / count;
}

std::string Scratch(const char* name) {
  return ::testing::TempDir() + "torvane_sim_video_" + std::to_string(getpid()) + "_" + name;
}

}  // namespace

TEST(SimVideo, LockstepWalkHasOneFramePerThirtiethOfSimulatedTimeAndShowsTheRobotMove) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
  const std::string path = Scratch("walk.mp4");
  const int cycles = 4 * kRate;  // 1.6 s standing up, then 2.4 s of trotting
  std::string tally;
  {
    SimProcess sim(SimCommand(), "high", {"--video", path, "--video-size", "320x240"});
    ASSERT_TRUE(sim.running());
    UDP udp(HIGH_LEVEL_FLAG, 0, "127.0.0.1", sim.port());
    HighCmd cmd{};
    udp.InitCmdData(cmd);
    for (int i = 0; i < cycles; ++i) {
      cmd.mode = i < 1.6 * kRate ? 1 : 2;
      cmd.velocity = {i < 1.6 * kRate ? 0.0f : 0.3f, 0.0f};
      udp.SetSend(cmd);
      udp.Send();
      ASSERT_EQ(sim.Answer(), "ok") << "cycle " << i;
      ASSERT_TRUE(WaitReadable(udp.socketfd)) << "cycle " << i;
      ASSERT_EQ(udp.Recv(), 0) << "cycle " << i;
    }
    tally = sim.Stop();
  }
  const int expected = static_cast<int>(std::lround(cycles / double(kRate) * 30));
  EXPECT_NE(tally.find("video: "), std::string::npos) << tally;
  EXPECT_NE(tally.find(" frames written, 0 dropped"), std::string::npos) << tally;

  const int frames = CountFrames(path);
  EXPECT_NEAR(frames, expected, 1);
  const std::vector<uint8_t> first = Frame(path, 0), last = Frame(path, frames - 1);
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(last.empty());
  EXPECT_GT(Variance(first), 100.0) << "a blank first frame";
  EXPECT_GT(Variance(last), 100.0) << "a blank last frame";
  // Lying folded at first, trotting at the end: the robot in the middle looks different.
  EXPECT_GT(MiddleDifference(first, last), 5.0);
  std::remove(path.c_str());
}

TEST(SimVideo, MissingFfmpegIsOneLineAndExitOneAtStart) {
  const ToolRun run =
      RunTool({TORVANE_SIM_PATH, "--level", "high", "--port", "0", "--video", Scratch("none.mp4")},
              {"PATH=/nonexistent"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "torvane-sim: --video needs ffmpeg, which is not installed\n");
}

TEST(SimVideo, BadVideoOptionsAreRefusedBeforeStarting) {
  const std::string sim = TORVANE_SIM_PATH;
  const std::string file = Scratch("refused.mp4");
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{"--video", file, "--video-size", "641x480"},
        std::vector<std::string>{"--video", file, "--video-size", "640x"},
        std::vector<std::string>{"--video", file, "--video-fps", "0"},
        std::vector<std::string>{"--video", file, "--engine", "simple"},
        std::vector<std::string>{"--view", "--engine", "simple"}}) {
    std::vector<std::string> args = {sim, "--level", "low", "--port", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolRun run = RunTool(args);
    EXPECT_EQ(run.status, 2) << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    EXPECT_NE(access(file.c_str(), F_OK), 0) << "a refused run wrote its file";
  }
}
