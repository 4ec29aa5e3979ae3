#include "view/scene_renderer.h"

#include <mujoco/mujoco.h>

#include <algorithm>
#include <cstring>

namespace torvane_sim {

struct SceneRenderer::Engine {
  mjModel* model = nullptr;  // the renderer's own copy: its buffer size and light are its own
  mjData* data = nullptr;
  mjvScene scene;
  mjvCamera camera;
  mjvOption option;
  mjrContext context;
  bool scene_made = false, context_made = false;

  ~Engine() {
    if (context_made) mjr_freeContext(&context);
    if (scene_made) mjv_freeScene(&scene);
    if (data != nullptr) mj_deleteData(data);
    if (model != nullptr) mj_deleteModel(model);
  }

  void Pose(const double* qpos, double time) {
    std::memcpy(data->qpos, qpos, sizeof(double) * static_cast<size_t>(model->nq));
    data->time = time;
    mj_kinematics(model, data);
    mj_camlight(model, data);
    mjv_updateScene(model, data, &option, nullptr, &camera, mjCAT_ALL, &scene);
  }
};

std::unique_ptr<SceneRenderer> SceneRenderer::Make(const mjModel_* model, int width, int height,
                                                   std::string& error) {
  std::unique_ptr<SceneRenderer> renderer(new SceneRenderer);
  renderer->width_ = width;
  renderer->height_ = height;
  renderer->engine_ = std::make_unique<Engine>();
  Engine& e = *renderer->engine_;
  e.model = mj_copyModel(nullptr, model);
  e.data = e.model != nullptr ? mj_makeData(e.model) : nullptr;
  if (e.data == nullptr) {
    error = "cannot copy the physics model for drawing";
    return nullptr;
  }
  // The offscreen buffer is sized by the model's visual settings; the model's own light is dim.
  e.model->vis.global.offwidth = std::max(width, e.model->vis.global.offwidth);
  e.model->vis.global.offheight = std::max(height, e.model->vis.global.offheight);
  e.model->vis.headlight.ambient[0] = e.model->vis.headlight.ambient[1] =
      e.model->vis.headlight.ambient[2] = 0.4f;
  e.model->vis.headlight.diffuse[0] = e.model->vis.headlight.diffuse[1] =
      e.model->vis.headlight.diffuse[2] = 0.6f;

  mjv_defaultScene(&e.scene);
  mjv_defaultCamera(&e.camera);
  mjv_defaultOption(&e.option);
  mjr_defaultContext(&e.context);
  mjv_makeScene(e.model, &e.scene, 2000);
  e.scene_made = true;
  mjr_makeContext(e.model, &e.context, mjFONTSCALE_100);
  e.context_made = true;
  if (e.context.offWidth < width || e.context.offHeight < height) {
    error = "the OpenGL context has no offscreen buffer of " + std::to_string(width) + "x" +
            std::to_string(height);
    return nullptr;
  }
  // A camera that follows the trunk from behind and above.
  const int trunk = mj_name2id(e.model, mjOBJ_BODY, "trunk");
  e.camera.type = mjCAMERA_TRACKING;
  e.camera.trackbodyid = trunk >= 0 ? trunk : std::min(1, e.model->nbody - 1);
  e.camera.distance = 1.6;
  e.camera.azimuth = 135;
  e.camera.elevation = -20;
  return renderer;
}

SceneRenderer::~SceneRenderer() = default;

void SceneRenderer::Draw(const double* qpos, double time) {
  Engine& e = *engine_;
  e.Pose(qpos, time);
  mjr_setBuffer(mjFB_OFFSCREEN, &e.context);
  mjr_render(mjrRect{0, 0, width_, height_}, &e.scene, &e.context);
}

void SceneRenderer::Read(uint8_t* rgb) {
  mjr_readPixels(rgb, nullptr, mjrRect{0, 0, width_, height_}, &engine_->context);
}

void SceneRenderer::DrawToWindow(const double* qpos, double time, int width, int height) {
  Engine& e = *engine_;
  e.Pose(qpos, time);
  mjr_setBuffer(mjFB_WINDOW, &e.context);
  mjr_render(mjrRect{0, 0, width, height}, &e.scene, &e.context);
}

}  // namespace torvane_sim
