// Draws the robot with the engine's own renderer into the current OpenGL context, from a pose
// (joint positions and time) rather than the live state, so that it can run on its own thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct mjModel_;

namespace torvane_sim {

class SceneRenderer {
 public:
  // Needs a current OpenGL context. `width` x `height` pixels; the camera follows the trunk.
  // Null, with `error` set to one line, if the engine cannot set up its drawing.
  static std::unique_ptr<SceneRenderer> Make(const mjModel_* model, int width, int height,
                                             std::string& error);
  ~SceneRenderer();
  SceneRenderer(const SceneRenderer&) = delete;
  SceneRenderer& operator=(const SceneRenderer&) = delete;

  // Poses the robot at `qpos` (the model's nq values) and draws it into the offscreen buffer.
  void Draw(const double* qpos, double time);
  // Reads what was drawn back as rows of RGB bytes, bottom row first (width * height * 3).
  void Read(uint8_t* rgb);
  // Draws into the window's buffer instead, at its size (pixels).
  void DrawToWindow(const double* qpos, double time, int width, int height);

 private:
  struct Engine;
  SceneRenderer() = default;
  std::unique_ptr<Engine> engine_;
  int width_ = 0, height_ = 0;
};

}  // namespace torvane_sim
