// The context's backend on Linux: a headless EGL context of desktop OpenGL.
//
// The candidates, in the order they are tried, are each EGL device (a vendor's EGL
// offers its GPUs only here), Mesa's surfaceless platform and the default display. A
// context is made on each and kept until ChooseGLDevice has picked one, so the report
// lists what every candidate really gave.
#include "gl/Context.h"

#include "common/Error.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>

#include <string>
#include <utility>
#include <vector>

namespace quarvel {

namespace {

// The process's one context. Made once and never destroyed: the textures, display lists
// and programs made in it live until the process ends. (Ending it at exit would also end
// the rasteriser's threads, but it unloads the driver before the leak checker's scan,
// whose suppressions then no longer know the driver's allocations.)
struct TEGLContext {
  EGLDisplay Display = EGL_NO_DISPLAY;
  EGLContext Context = EGL_NO_CONTEXT;
  EGLSurface Surface = EGL_NO_SURFACE;
  std::string Platform;
};
TEGLContext* Context = nullptr;

EGLDisplay PlatformDisplay(EGLenum platform, void* native) {
  auto get = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (!get)
    return EGL_NO_DISPLAY;
  return get(platform, native, nullptr);
}

// Candidate displays in the order they are tried (see the top of this file). A display
// that an earlier way already gave is listed once.
std::vector<std::pair<std::string, EGLDisplay>> CandidateDisplays() {
  std::vector<std::pair<std::string, EGLDisplay>> out;
  auto add = [&out](std::string name, EGLDisplay d) {
    if (d == EGL_NO_DISPLAY)
      return;
    for (const auto& known : out)
      if (known.second == d)
        return;
    out.emplace_back(std::move(name), d);
  };
  const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  if (HasExtension(client, "EGL_EXT_platform_device")) {
    auto query =
        reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    EGLDeviceEXT devices[16];
    EGLint count = 0;
    if (query && query(16, devices, &count))
      for (EGLint i = 0; i < count && i < 16; ++i)
        add("device " + std::to_string(i), PlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i]));
  }
  if (HasExtension(client, "EGL_MESA_platform_surfaceless"))
    add("surfaceless", PlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY));
  add("default", eglGetDisplay(EGL_DEFAULT_DISPLAY));
  return out;
}

// Makes a desktop-GL context current on an initialised display; false (with `why`
// filled) when the display cannot give one.
bool MakeContext(EGLDisplay display, TEGLContext& result, std::string& why) {
  if (!eglBindAPI(EGL_OPENGL_API)) {
    why = "desktop OpenGL is not offered";
    return false;
  }
  const bool surfaceless =
      HasExtension(eglQueryString(display, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context");
  const EGLint configAttribs[] = {EGL_RENDERABLE_TYPE,
                                  EGL_OPENGL_BIT,
                                  EGL_SURFACE_TYPE,
                                  surfaceless ? 0 : EGL_PBUFFER_BIT,
                                  EGL_RED_SIZE,
                                  8,
                                  EGL_GREEN_SIZE,
                                  8,
                                  EGL_BLUE_SIZE,
                                  8,
                                  EGL_NONE};
  EGLConfig config = nullptr;
  EGLint count = 0;
  if (!eglChooseConfig(display, configAttribs, &config, 1, &count) || count < 1) {
    why = "no configuration for desktop OpenGL";
    return false;
  }
  // No version asked for: Mesa then gives the highest compatibility-profile version,
  // which keeps display lists and fixed-function lighting.
  const EGLint contextAttribs[] = {EGL_NONE};
  EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttribs);
  if (context == EGL_NO_CONTEXT) {
    why = "eglCreateContext failed";
    return false;
  }
  EGLSurface surface = EGL_NO_SURFACE;
  if (!surfaceless) {
    const EGLint pbufferAttribs[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
    surface = eglCreatePbufferSurface(display, config, pbufferAttribs);
    if (surface == EGL_NO_SURFACE) {
      eglDestroyContext(display, context);
      why = "no surface to make the context current on";
      return false;
    }
  }
  if (!eglMakeCurrent(display, surface, surface, context)) {
    if (surface != EGL_NO_SURFACE)
      eglDestroySurface(display, surface);
    eglDestroyContext(display, context);
    why = "eglMakeCurrent failed";
    return false;
  }
  result.Display = display;
  result.Context = context;
  result.Surface = surface;
  return true;
}

void ReleaseContext(const TEGLContext& made) {
  eglMakeCurrent(made.Display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  if (made.Surface != EGL_NO_SURFACE)
    eglDestroySurface(made.Display, made.Surface);
  eglDestroyContext(made.Display, made.Context);
}

} // namespace

void MakeSystemGLContext(const TGLDeviceRequest& request, TGLDeviceReport& report) {
  std::vector<TEGLContext> made;
  for (auto& [name, display] : CandidateDisplays()) {
    TGLCandidate candidate;
    candidate.Platform = name;
    TEGLContext context;
    EGLint major = 0, minor = 0;
    if (!eglInitialize(display, &major, &minor)) {
      candidate.Failure = "eglInitialize failed";
    } else if (!MakeContext(display, context, candidate.Failure)) {
      eglTerminate(display);
    } else {
      DescribeCurrentGLContext(candidate);
      eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    context.Platform = name;
    made.push_back(context);
    report.Candidates.push_back(std::move(candidate));
  }
  report.Choice = ChooseGLDevice(report.Candidates, request);
  for (size_t i = 0; i < made.size(); ++i) {
    if (static_cast<int>(i) == report.Choice.Index || made[i].Context == EGL_NO_CONTEXT)
      continue;
    ReleaseContext(made[i]);
    eglTerminate(made[i].Display);
  }
  if (report.Choice.Index < 0)
    throw TransientError("Cannot create the OpenGL view: " + report.Choice.Reason + ". " +
                         GLDriverNeeded);
  const TEGLContext& chosen = made[static_cast<size_t>(report.Choice.Index)];
  if (!eglMakeCurrent(chosen.Display, chosen.Surface, chosen.Surface, chosen.Context)) {
    ReleaseContext(chosen);
    throw TransientError("Cannot create the OpenGL view: eglMakeCurrent failed on " +
                         chosen.Platform + ". " + GLDriverNeeded);
  }
  Context = new TEGLContext(chosen);
}

std::string GLPlatformName() {
  return Context ? Context->Platform : std::string();
}

const char* GLSystemName() {
  return "EGL";
}

} // namespace quarvel
