#include "view/live_window.h"

#include <GLFW/glfw3.h>
#include <mujoco/mujoco.h>
#include <time.h>

#include <vector>

#include "models/physics_model.h"
#include "view/scene_renderer.h"

namespace torvane_sim {

bool LiveWindow::Open(const PhysicsModel& robot, std::string& error) {
  mailbox_ = std::make_unique<PoseMailbox>(robot.engine_model()->nq);
  std::promise<std::string> ready;
  std::future<std::string> outcome = ready.get_future();
  thread_ = std::thread([this, &robot, &ready] { Show(robot, ready); });
  error = outcome.get();
  if (error.empty()) return true;
  thread_.join();
  return false;
}

void LiveWindow::Show(const PhysicsModel& robot, std::promise<std::string>& ready) {
  if (!glfwInit()) {
    ready.set_value("--view needs a display (none found: is DISPLAY set?)");
    return;
  }
  glfwWindowHint(GLFW_SAMPLES, 4);
  GLFWwindow* window = glfwCreateWindow(960, 720, "torvane-sim", nullptr, nullptr);
  if (window == nullptr) {
    glfwTerminate();
    ready.set_value("--view: cannot open a window with OpenGL on this display");
    return;
  }
  glfwMakeContextCurrent(window);
  glfwSwapInterval(1);
  std::string error;
  std::unique_ptr<SceneRenderer> renderer =
      SceneRenderer::Make(robot.engine_model(), 960, 720, error);
  const int nq = robot.engine_model()->nq;
  ready.set_value(renderer != nullptr ? "" : "--view: " + error);

  std::vector<double> qpos(static_cast<size_t>(nq));
  double time = 0;
  bool posed = false;
  const timespec frame{0, 16 * 1000 * 1000};  // about 60 Hz where the display does not pace it
  while (renderer != nullptr && !stop_ && !glfwWindowShouldClose(window)) {
    posed = mailbox_->TryTake(qpos.data(), time) || posed;
    if (posed) {
      int width = 0, height = 0;
      glfwGetFramebufferSize(window, &width, &height);
      renderer->DrawToWindow(qpos.data(), time, width, height);
      glfwSwapBuffers(window);
    }
    glfwPollEvents();
    nanosleep(&frame, nullptr);
  }
  renderer.reset();  // before its context
  glfwDestroyWindow(window);
  glfwTerminate();
}

void LiveWindow::Offer(const PhysicsModel& robot) {
  if (!mailbox_ || robot.time() < next_) return;
  next_ = robot.time() + 1.0 / 60;
  mailbox_->Put(robot.engine_data()->qpos, robot.time(), PoseMailbox::Full::kReplace);
}

void LiveWindow::Close() {
  if (!thread_.joinable()) return;
  stop_ = true;
  mailbox_->Close();
  thread_.join();
}

}  // namespace torvane_sim
