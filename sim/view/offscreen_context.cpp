#include "view/offscreen_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstring>

namespace torvane_sim {
namespace {

// The surfaceless platform needs no display server; the default display is the fallback where
// the library lacks it.
EGLDisplay OpenDisplay() {
  const char* extensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  const auto get_platform_display = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (extensions != nullptr && std::strstr(extensions, "EGL_MESA_platform_surfaceless") &&
      get_platform_display != nullptr) {
    EGLDisplay display =
        get_platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display != EGL_NO_DISPLAY) return display;
  }
  return eglGetDisplay(EGL_DEFAULT_DISPLAY);
}

}  // namespace

std::unique_ptr<OffscreenContext> OffscreenContext::Make(std::string& error) {
  EGLDisplay display = OpenDisplay();
  EGLint major = 0, minor = 0;
  if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) {
    error = "no EGL display for offscreen drawing";
    return nullptr;
  }
  // clang-format off
  const EGLint attributes[] = {EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8,
                               EGL_ALPHA_SIZE, 8, EGL_DEPTH_SIZE, 24, EGL_STENCIL_SIZE, 8,
                               EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                               EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_NONE};
  // clang-format on
  EGLConfig config;
  EGLint count = 0;
  EGLContext context = EGL_NO_CONTEXT;
  if (eglChooseConfig(display, attributes, &config, 1, &count) && count > 0 &&
      eglBindAPI(EGL_OPENGL_API)) {
    context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
  }
  if (context == EGL_NO_CONTEXT ||
      !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
    if (context != EGL_NO_CONTEXT) eglDestroyContext(display, context);
    eglTerminate(display);
    error = "EGL offers no OpenGL context for offscreen drawing";
    return nullptr;
  }
  std::unique_ptr<OffscreenContext> made(new OffscreenContext);
  made->display_ = display;
  made->context_ = context;
  return made;
}

OffscreenContext::~OffscreenContext() {
  eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  eglDestroyContext(display_, context_);
  eglTerminate(display_);
}

}  // namespace torvane_sim
