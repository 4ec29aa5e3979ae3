// Built without OpenGL: the options refuse --video and --view before these are reached.
#include "view/live_window.h"
#include "view/video_recorder.h"

namespace torvane_sim {

bool VideoRecorder::Start(const PhysicsModel&, const VideoSettings&, bool, std::string& error) {
  error = "--video: not available: built without OpenGL";
  return false;
}
void VideoRecorder::Offer(const PhysicsModel&) {}
bool VideoRecorder::Finish() {
  return true;
}
void VideoRecorder::Film(const PhysicsModel&, std::promise<std::string>&) {}

bool LiveWindow::Open(const PhysicsModel&, std::string& error) {
  error = "--view: not available: built without OpenGL";
  return false;
}
void LiveWindow::Offer(const PhysicsModel&) {}
void LiveWindow::Close() {}
void LiveWindow::Show(const PhysicsModel&, std::promise<std::string>&) {}

}  // namespace torvane_sim
