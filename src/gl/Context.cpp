#include "gl/Context.h"

#include "common/Error.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstring>

namespace quarvel {

const char* const GLDriverNeeded = "Quarvel needs an OpenGL 2.0 driver (with framebuffer objects)";

namespace {

TGLDeviceRequest Request;
TGLDeviceReport Report;
// Set once the backend has made a context current; it is never taken back.
bool ContextMade = false;

std::string GLString(GLenum name) {
  const char* text = reinterpret_cast<const char*>(glGetString(name));
  return text ? text : "";
}

// True when the current context is OpenGL 2.0 or later with framebuffer objects.
bool ContextIsUsable(std::string& why) {
  const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  int major = 0, minor = 0;
  if (!version || std::sscanf(version, "%d.%d", &major, &minor) != 2) {
    why = "the context reports no OpenGL version";
    return false;
  }
  if (major < 2) {
    why = std::string("OpenGL ") + version + " is older than 2.0";
    return false;
  }
  if (major < 3) {
    const char* ext = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    if (!HasExtension(ext, "GL_ARB_framebuffer_object")) {
      why = std::string("OpenGL ") + version + " has no framebuffer objects";
      return false;
    }
  }
  return true;
}

} // namespace

void SetGLDeviceRequest(const TGLDeviceRequest& request) {
  if (ContextMade && (request.Wish != Request.Wish || request.Device != Request.Device))
    throw Error("the OpenGL device is chosen once per process; it cannot change after the "
                "first view");
  Request = request;
}

const TGLDeviceReport& GLDeviceReport() {
  return Report;
}

void EnsureGLContext() {
  if (ContextMade)
    return;
  TGLDeviceRequest request = Request;
  if (request.Device < 0)
    request.Device = GLDeviceFromEnvironment();
  Report = TGLDeviceReport{};
  MakeSystemGLContext(request, Report);
  ContextMade = true;
}

std::string GLVersionString() {
  return GLString(GL_VERSION);
}

std::string GLRendererString() {
  return GLString(GL_RENDERER);
}

void DescribeCurrentGLContext(TGLCandidate& candidate) {
  candidate.Vendor = GLString(GL_VENDOR);
  candidate.Renderer = GLString(GL_RENDERER);
  candidate.Version = GLString(GL_VERSION);
  candidate.Usable = ContextIsUsable(candidate.Failure);
}

bool HasExtension(const char* list, const char* name) {
  if (!list)
    return false;
  const size_t n = std::strlen(name);
  for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += n) {
    const bool startOk = p == list || p[-1] == ' ';
    const bool endOk = p[n] == ' ' || p[n] == '\0';
    if (startOk && endOk)
      return true;
  }
  return false;
}

} // namespace quarvel
