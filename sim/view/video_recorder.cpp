#include "view/video_recorder.h"

#include <mujoco/mujoco.h>

#include "models/physics_model.h"
#include "view/offscreen_context.h"
#include "view/scene_renderer.h"

namespace torvane_sim {

bool VideoRecorder::Start(const PhysicsModel& robot, const VideoSettings& settings, bool lockstep,
                          std::string& error) {
  settings_ = settings;
  lockstep_ = lockstep;
  if (!encoder_.Start(settings.path, settings.width, settings.height, settings.fps, error)) {
    return false;
  }
  mailbox_ = std::make_unique<PoseMailbox>(robot.engine_model()->nq);
  // The OpenGL context belongs to the thread that draws, so that thread sets up and says how
  // it went before the emulator starts serving (and stepping the model it copies).
  std::promise<std::string> ready;
  std::future<std::string> outcome = ready.get_future();
  thread_ = std::thread([this, &robot, &ready] { Film(robot, ready); });
  error = outcome.get();
  if (error.empty()) return true;
  thread_.join();
  encoder_.Finish();
  return false;
}

void VideoRecorder::Film(const PhysicsModel& robot, std::promise<std::string>& ready) {
  std::string error;
  std::unique_ptr<OffscreenContext> context = OffscreenContext::Make(error);
  std::unique_ptr<SceneRenderer> renderer;
  if (context != nullptr) {
    renderer = SceneRenderer::Make(robot.engine_model(), settings_.width, settings_.height, error);
  }
  const int nq = robot.engine_model()->nq;
  ready.set_value(renderer != nullptr ? "" : "--video: " + error);
  if (renderer == nullptr) return;

  std::vector<double> qpos(static_cast<size_t>(nq));
  std::vector<uint8_t> rgb(static_cast<size_t>(settings_.width) * settings_.height * 3);
  double time = 0;
  int frames = 0;
  while (mailbox_->Take(qpos.data(), time, frames)) {
    if (failed_) continue;  // ffmpeg has gone: the emulator goes on, the account says so
    renderer->Draw(qpos.data(), time);
    renderer->Read(rgb.data());
    // A pose that stood for dropped frames fills their places too: the video keeps to time.
    for (int k = 0; k < frames && !failed_; ++k) failed_ = !encoder_.Write(rgb.data());
    if (!failed_) ++written_;
  }
  renderer.reset();  // before its context
}

void VideoRecorder::Offer(const PhysicsModel& robot) {
  if (!mailbox_) return;
  const double now = robot.time();
  if (first_) {
    first_ = false;
    next_frame_ = now;
  }
  if (now + 1e-9 < next_frame_) return;
  // One frame per 1/fps of simulated time: a period longer than that still films one.
  const double step = 1.0 / settings_.fps;
  while (next_frame_ <= now + 1e-9) next_frame_ += step;
  const mjData* data = robot.engine_data();
  const bool put = mailbox_->Put(data->qpos, now,
                                 lockstep_ ? PoseMailbox::Full::kWait : PoseMailbox::Full::kDrop);
  if (!put) ++dropped_;
}

bool VideoRecorder::Finish() {
  if (!thread_.joinable()) return !failed_;
  mailbox_->Close();
  thread_.join();
  const bool encoded = encoder_.Finish();
  return encoded && !failed_;
}

}  // namespace torvane_sim
