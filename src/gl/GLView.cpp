#include "gl/GLView.h"

#include "common/Error.h"
#include "gl/DeviceChoice.h"
#include "image/Image.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/glext.h>
#include <GL/glu.h>

#include <cstdio>
#include <cstring>
#include <utility>

namespace quarvel {

std::unique_ptr<TOGL> GLView;

namespace {

const char* const NeedDriver = "Quarvel needs an OpenGL 2.0 driver (with framebuffer objects)";

// The process's one GL context. Made with the first view and never destroyed: the
// textures, display lists and programs made in it live until the process ends, and
// tearing Mesa down during static destruction gains nothing.
struct TEGLContext {
  EGLDisplay Display = EGL_NO_DISPLAY;
  EGLContext Context = EGL_NO_CONTEXT;
  EGLSurface Surface = EGL_NO_SURFACE;
  std::string Platform;
};
TEGLContext* Context = nullptr;
// The view whose framebuffer drawing goes to, so that a view that goes away can hand
// drawing back to GLView.
const TOGL* CurrentView = nullptr;

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

EGLDisplay PlatformDisplay(EGLenum platform, void* native) {
  auto get = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (!get)
    return EGL_NO_DISPLAY;
  return get(platform, native, nullptr);
}

// Candidate displays in the order they are tried: each EGL device (a vendor's EGL offers
// its GPUs only here), Mesa's surfaceless platform, the default display. A display that
// an earlier way already gave is listed once.
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

std::string GLString(GLenum name) {
  const char* text = reinterpret_cast<const char*>(glGetString(name));
  return text ? text : "";
}

void ReleaseContext(const TEGLContext& made) {
  eglMakeCurrent(made.Display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  if (made.Surface != EGL_NO_SURFACE)
    eglDestroySurface(made.Display, made.Surface);
  eglDestroyContext(made.Display, made.Context);
}

TGLDeviceRequest Request;
TGLDeviceReport Report;

// Tries every candidate (a context on each in turn, kept until the choice is made), takes
// the one ChooseGLDevice picks and makes its context current; the others are released.
void EnsureContext() {
  if (Context)
    return;
  TGLDeviceRequest request = Request;
  if (request.Device < 0)
    request.Device = GLDeviceFromEnvironment();
  Report = TGLDeviceReport{};
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
      candidate.Vendor = GLString(GL_VENDOR);
      candidate.Renderer = GLString(GL_RENDERER);
      candidate.Version = GLString(GL_VERSION);
      candidate.Usable = ContextIsUsable(candidate.Failure);
      eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    context.Platform = name;
    made.push_back(context);
    Report.Candidates.push_back(std::move(candidate));
  }
  Report.Choice = ChooseGLDevice(Report.Candidates, request);
  for (size_t i = 0; i < made.size(); ++i) {
    if (static_cast<int>(i) == Report.Choice.Index || made[i].Context == EGL_NO_CONTEXT)
      continue;
    ReleaseContext(made[i]);
    eglTerminate(made[i].Display);
  }
  if (Report.Choice.Index < 0)
    throw Error("Cannot create the OpenGL view: " + Report.Choice.Reason + ". " + NeedDriver);
  const TEGLContext& chosen = made[static_cast<size_t>(Report.Choice.Index)];
  if (!eglMakeCurrent(chosen.Display, chosen.Surface, chosen.Surface, chosen.Context)) {
    ReleaseContext(chosen);
    throw Error("Cannot create the OpenGL view: eglMakeCurrent failed on " + chosen.Platform +
                ". " + NeedDriver);
  }
  Context = new TEGLContext(chosen);
}

void DrainErrors() {
  for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
  }
}

// Colour and depth-stencil renderbuffers of `samples` samples (0: single-sampled)
// attached to a new framebuffer; true when it is complete.
bool BuildFramebuffer(int samples, int w, int h, GLuint& fbo, GLuint& colour, GLuint& depth) {
  DrainErrors();
  glGenFramebuffers(1, &fbo);
  glBindFramebuffer(GL_FRAMEBUFFER, fbo);
  glGenRenderbuffers(1, &colour);
  glBindRenderbuffer(GL_RENDERBUFFER, colour);
  glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_RGBA8, w, h);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
  glGenRenderbuffers(1, &depth);
  glBindRenderbuffer(GL_RENDERBUFFER, depth);
  glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_DEPTH24_STENCIL8, w, h);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth);
  const bool ok = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE &&
                  glGetError() == GL_NO_ERROR;
  glBindRenderbuffer(GL_RENDERBUFFER, 0);
  return ok;
}

void DeleteFramebuffer(GLuint& fbo, GLuint& colour, GLuint& depth) {
  if (fbo)
    glDeleteFramebuffers(1, &fbo);
  if (colour)
    glDeleteRenderbuffers(1, &colour);
  if (depth)
    glDeleteRenderbuffers(1, &depth);
  fbo = colour = depth = 0;
}

// The driver's answer for a view of w x h: the count is within GL_MAX_SAMPLES and a
// framebuffer with it is complete.
bool DriverAcceptsSamples(int samples, int w, int h) {
  GLint maxSamples = 0;
  glGetIntegerv(GL_MAX_SAMPLES, &maxSamples);
  if (samples > maxSamples)
    return false;
  GLuint fbo = 0, colour = 0, depth = 0;
  const bool ok = BuildFramebuffer(samples, w, h, fbo, colour, depth);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  DeleteFramebuffer(fbo, colour, depth);
  DrainErrors();
  return ok;
}

int BytesPerPixel(GLenum format) {
  switch (format) {
  case GL_RGB:
  case GL_BGR:
    return 3;
  case GL_RGBA:
  case GL_BGRA:
    return 4;
  default:
    return 0;
  }
}

} // namespace

int FindMultisampleCount(int maxSamples, const TSampleProbe& accepted) {
  for (int samples = maxSamples; samples >= 2; samples /= 2)
    if (accepted(samples))
      return samples;
  return 0;
}

TOGL::TOGL(int width, int height, const TSampleProbe& probe) {
  if (width < 1 || height < 1)
    throw Error("TOGL: the view size " + std::to_string(width) + " x " + std::to_string(height) +
                " is empty");
  EnsureContext();
  Width_ = width;
  Height_ = height;

  const int samples = FindMultisampleCount(
      32, [&](int n) { return probe ? probe(n) : DriverAcceptsSamples(n, width, height); });
  // A count the probe accepted but the driver cannot build (a faked probe, or a driver
  // that changed its mind) falls back to a single-sampled picture rather than failing.
  try {
    CreateFramebuffers(samples, width, height);
  } catch (const Error&) {
    if (samples == 0)
      throw;
    CreateFramebuffers(0, width, height);
  }

  // The fixed state. Blending is never enabled; its function is set for whoever does.
  glEnable(GL_TEXTURE_2D);
  glClearDepth(1.0);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LESS);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glCullFace(GL_FRONT);
  glDisable(GL_CULL_FACE);
  Resize(width, height);
  glClearColor(0, 0, 0, 1);
  BeginFrame();
  EndFrame();
  glDisable(GL_DEPTH_TEST);
  // Rows of three-byte pixels are uploaded and read back densely (400 pixels: 1,200
  // bytes a row), never padded to four bytes.
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  CreateWhiteTexture();
}

TOGL::~TOGL() {
  if (WhiteTexture_)
    glDeleteTextures(1, &WhiteTexture_);
  DeleteFramebuffers();
  if (CurrentView == this) {
    CurrentView = nullptr;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (GLView && GLView.get() != this)
      GLView->MakeCurrent();
  }
}

void TOGL::CreateFramebuffers(int samples, int w, int h) {
  DeleteFramebuffers();
  Samples_ = samples;
  if (!BuildFramebuffer(samples, w, h, DrawFBO_, ColourRB_, DepthRB_)) {
    DeleteFramebuffers();
    throw Error("TOGL.SetPF: PF = 0 (no complete " + std::to_string(w) + " x " + std::to_string(h) +
                " framebuffer with " +
                (samples ? std::to_string(samples) + " samples" : std::string("one sample")) +
                "; " + NeedDriver + ")");
  }
  if (samples > 0) {
    GLuint unusedDepth = 0;
    if (!BuildFramebuffer(0, w, h, ResolveFBO_, ResolveColourRB_, unusedDepth)) {
      glDeleteRenderbuffers(1, &unusedDepth);
      DeleteFramebuffers();
      throw Error("TOGL.SetPF: PF = 0 (no complete framebuffer to resolve " +
                  std::to_string(samples) + " samples into; " + NeedDriver + ")");
    }
    // The resolved picture needs no depth.
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, 0);
    glDeleteRenderbuffers(1, &unusedDepth);
  } else {
    ResolveFBO_ = DrawFBO_;
  }
  MakeCurrent();
}

void TOGL::DeleteFramebuffers() {
  if (ResolveFBO_ && ResolveFBO_ != DrawFBO_) {
    GLuint none = 0;
    DeleteFramebuffer(ResolveFBO_, ResolveColourRB_, none);
  }
  ResolveFBO_ = 0;
  DeleteFramebuffer(DrawFBO_, ColourRB_, DepthRB_);
}

void TOGL::MakeCurrent() const {
  glBindFramebuffer(GL_FRAMEBUFFER, DrawFBO_);
  glViewport(0, 0, Width_, Height_);
  CurrentView = this;
}

void TOGL::BeginFrame() {
  if (CurrentView != this)
    MakeCurrent();
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glLoadIdentity();
}

bool TOGL::EndFrame() {
  Resolve();
  if (Presenter_)
    Presenter_(*this);
  return true;
}

void TOGL::Resolve() const {
  if (Samples_ == 0)
    return;
  glBindFramebuffer(GL_READ_FRAMEBUFFER, DrawFBO_);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, ResolveFBO_);
  glBlitFramebuffer(0, 0, Width_, Height_, 0, 0, Width_, Height_, GL_COLOR_BUFFER_BIT, GL_NEAREST);
  glBindFramebuffer(GL_FRAMEBUFFER, CurrentView ? CurrentView->DrawFBO_ : DrawFBO_);
}

std::vector<uint8_t> TOGL::ReadPixels(GLenum format) const {
  const int bpp = BytesPerPixel(format);
  if (bpp == 0)
    throw Error("TOGL.ReadPixels: unsupported pixel format " + std::to_string(format));
  Resolve();
  std::vector<uint8_t> out(static_cast<size_t>(Width_) * Height_ * bpp);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, ResolveFBO_);
  glReadBuffer(GL_COLOR_ATTACHMENT0);
  // Set here too, so a caller that changed the pack alignment still gets dense rows.
  GLint oldAlign = 1;
  glGetIntegerv(GL_PACK_ALIGNMENT, &oldAlign);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, Width_, Height_, format, GL_UNSIGNED_BYTE, out.data());
  glPixelStorei(GL_PACK_ALIGNMENT, oldAlign);
  glBindFramebuffer(GL_FRAMEBUFFER, CurrentView ? CurrentView->DrawFBO_ : DrawFBO_);
  return out;
}

void TOGL::Begin2D() {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, Width_, 0, Height_, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glDisable(GL_DEPTH_TEST);
}

void TOGL::End2D() {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  if (Height_ < 1)
    Height_ = 1;
  gluPerspective(45.0, static_cast<double>(Width_) / Height_, 4.0, 4000.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glEnable(GL_DEPTH_TEST);
}

void TOGL::Resize(int w, int h) {
  if (w < 1 || h < 1)
    throw Error("TOGL.Resize: the view size " + std::to_string(w) + " x " + std::to_string(h) +
                " is empty");
  if (w != Width_ || h != Height_ || !DrawFBO_)
    CreateFramebuffers(Samples_, w, h);
  Width_ = w;
  Height_ = h;
  glViewport(0, 0, w, h);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(45.0, static_cast<double>(w) / h, 4.0, 4000.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void TOGL::CreateWhiteTexture() {
  glGenTextures(1, &WhiteTexture_);
  glBindTexture(GL_TEXTURE_2D, WhiteTexture_);
  SetTextureParams(GL_TEXTURE_2D, GL_REPEAT, GL_REPEAT, GL_NEAREST, GL_NEAREST, 0);
  const uint8_t white[12] = {255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255};
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 2, 2, 0, GL_RGB, GL_UNSIGNED_BYTE, white);
}

std::string TOGL::GLVersion() {
  const char* s = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  return s ? s : "";
}

std::string TOGL::GLRenderer() {
  const char* s = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  return s ? s : "";
}

std::string TOGL::EGLPlatform() {
  return Context ? Context->Platform : std::string();
}

void SetGLDeviceRequest(const TGLDeviceRequest& request) {
  if (Context && (request.Wish != Request.Wish || request.Device != Request.Device))
    throw Error("the OpenGL device is chosen once per process; it cannot change after the "
                "first view");
  Request = request;
}

const TGLDeviceReport& GLDeviceReport() {
  return Report;
}

TOGL& CreateGLView(int width, int height) {
  GLView.reset();
  GLView = std::make_unique<TOGL>(width, height);
  return *GLView;
}

void SetTextureParams(GLenum target, GLint wrapS, GLint wrapT, GLint minFilter, GLint magFilter,
                      GLint generateMipmap) {
  glTexParameteri(target, GL_TEXTURE_WRAP_S, wrapS);
  glTexParameteri(target, GL_TEXTURE_WRAP_T, wrapT);
  glTexParameteri(target, GL_TEXTURE_MIN_FILTER, minFilter);
  glTexParameteri(target, GL_TEXTURE_MAG_FILTER, magFilter);
  glTexParameteri(target, GL_GENERATE_MIPMAP, generateMipmap);
}

std::vector<uint8_t> FlipRows(int width, int height, GLenum format, const void* data) {
  if (format != GL_RGBA && format != GL_BGRA)
    return {};
  return FlippedRows(static_cast<const uint8_t*>(data), width, height, 4);
}

GLuint CreateTexture(int width, int height, GLenum format, const void* data, bool flipRows) {
  std::vector<uint8_t> flipped;
  if (flipRows) {
    flipped = FlipRows(width, height, format, data);
    // Uploading nothing would leave the texture's texels undefined.
    if (flipped.empty() && width > 0 && height > 0)
      throw Error("CreateTexture: rows of pixel format " + std::to_string(format) +
                  " cannot be flipped");
    data = flipped.data();
  }
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  SetTextureParams(GL_TEXTURE_2D, GL_REPEAT, GL_REPEAT, GL_NEAREST, GL_NEAREST, 0);
  // GL_BGR(A) is no internal format; the texture keeps the same channels as RGB(A).
  const GLint internal = format == GL_BGRA  ? GL_RGBA
                         : format == GL_BGR ? GL_RGB
                                            : static_cast<GLint>(format);
  glTexImage2D(GL_TEXTURE_2D, 0, internal, width, height, 0, format, GL_UNSIGNED_BYTE, data);
  return texture;
}

void DrawTexturedQuad(int x, int y, int w, int h, GLuint texture) {
  glBindTexture(GL_TEXTURE_2D, texture);
  const GLfloat fx = static_cast<GLfloat>(x), fy = static_cast<GLfloat>(y);
  const GLfloat fx2 = static_cast<GLfloat>(x + w), fy2 = static_cast<GLfloat>(y + h);
  const GLfloat vertices[12] = {fx, fy, 0, fx2, fy, 0, fx2, fy2, 0, fx, fy2, 0};
  const GLfloat texCoords[8] = {0, 0, 1, 0, 1, 1, 0, 1};
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glVertexPointer(3, GL_FLOAT, 0, vertices);
  glTexCoordPointer(2, GL_FLOAT, 0, texCoords);
  glDrawArrays(GL_QUADS, 0, 4);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
}

} // namespace quarvel
