// A headless OpenGL context (EGL, Mesa's surfaceless platform): no display, no window.
#pragma once

#include <memory>
#include <string>

namespace torvane_sim {

class OffscreenContext {
 public:
  // Creates the context and makes it current on the calling thread. Null, with `error` set to
  // one line, if EGL offers no desktop OpenGL here.
  static std::unique_ptr<OffscreenContext> Make(std::string& error);
  ~OffscreenContext();
  OffscreenContext(const OffscreenContext&) = delete;
  OffscreenContext& operator=(const OffscreenContext&) = delete;

 private:
  OffscreenContext() = default;
  void* display_ = nullptr;
  void* context_ = nullptr;
};

}  // namespace torvane_sim
