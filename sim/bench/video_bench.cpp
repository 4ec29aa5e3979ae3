// The cost of --video, printed as a Markdown section: the built-in trot (high level, physics,
// 500 Hz periods) run for a number of simulated seconds alone and then filmed offscreen at
// 640x480 and 30 fps with every frame drawn, as ratios of real time measured in the same run.
// A ratio of at least 1 means the video keeps up with a real-time emulator without dropping.
//   video_bench [simulated-seconds]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "clock/monotonic_clock.h"
#include "models/physics_engine.h"
#include "program/model_path.h"
#include "torvane/records.h"
#include "view/video_recorder.h"

namespace {

using torvane_clock::Now;

constexpr double kPeriod = 0.002;  // [s] the emulator's default state period

struct Result {
  double wall = 0;  // [s]
  uint64_t frames = 0, dropped = 0;
};

// Stands the robot up for 1.6 s, then trots forward at 0.3 m/s, for `seconds` of simulated
// time; filmed into `video` unless it is empty. False, with a line on stderr, on failure.
bool Walk(const std::string& model, double seconds, const std::string& video, Result& out) {
  std::string error;
  std::unique_ptr<torvane_sim::HighLevelModel> robot =
      torvane_sim::LoadPhysicsHighLevel(model, TORVANE::LeggedType::Zorvan, kPeriod, error);
  if (robot == nullptr) {
    std::fprintf(stderr, "video_bench: %s\n", error.c_str());
    return false;
  }
  torvane_sim::VideoRecorder recorder;
  if (!video.empty() &&
      !recorder.Start(*robot->physics(), torvane_sim::VideoSettings{video, 30, 640, 480},
                      /*lockstep=*/true, error)) {
    std::fprintf(stderr, "video_bench: %s\n", error.c_str());
    return false;
  }
  TORVANE::HighCmd cmd{};
  const long periods = static_cast<long>(seconds / kPeriod);
  const double start = Now();
  for (long i = 0; i < periods; ++i) {
    cmd.mode = i * kPeriod < 1.6 ? 1 : 2;
    cmd.velocity = {i * kPeriod < 1.6 ? 0.0f : 0.3f, 0.0f};
    robot->Command(cmd);
    robot->Step();
    if (!video.empty()) recorder.Offer(*robot->physics());
  }
  const bool encoded = recorder.Finish();
  out.wall = Now() - start;
  out.frames = recorder.written();
  out.dropped = recorder.dropped();
  if (!video.empty() && !encoded) {
    std::fprintf(stderr, "video_bench: ffmpeg failed\n");
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  if (!(seconds >= 2.0 && seconds <= 600.0)) {
    std::fprintf(stderr, "usage: video_bench [simulated-seconds, 2 to 600]\n");
    return 2;
  }
  const std::string model = torvane_sim::FindModel("quadruped.xml");
  if (model.empty()) {
    std::fprintf(stderr, "video_bench: cannot find the physics model quadruped.xml\n");
    return 1;
  }
  const std::string video = "/tmp/torvane_video_bench_" + std::to_string(getpid()) + ".mp4";
  Result alone, filmed;
  const bool ok = Walk(model, seconds, "", alone) && Walk(model, seconds, video, filmed);
  std::remove(video.c_str());
  if (!ok) return 1;

  std::printf("\n## Offscreen video (torvane-sim --video)\n\n");
  std::printf(
      "The built-in trot for %g s of simulated time at 500 Hz, alone and filmed at "
      "640x480 and 30 fps (every frame drawn by the engine's renderer in an EGL context "
      "and encoded by ffmpeg), in the same run.\n\n",
      seconds);
  std::printf("| run | wall time [s] | ratio of real time | frames |\n");
  std::printf("|---|---:|---:|---:|\n");
  std::printf("| physics alone | %.2f | %.1f | |\n", alone.wall, seconds / alone.wall);
  std::printf("| physics and video | %.2f | %.2f | %llu |\n", filmed.wall, seconds / filmed.wall,
              static_cast<unsigned long long>(filmed.frames));
  std::printf(
      "\nGoal: the filmed run at least as fast as real time (ratio >= 1); %s. Drawing "
      "and encoding cost %.1f ms a frame.\n",
      seconds / filmed.wall >= 1.0 ? "met" : "not met on this machine in this run",
      1000.0 * (filmed.wall - alone.wall) / static_cast<double>(filmed.frames));
  return 0;
}
