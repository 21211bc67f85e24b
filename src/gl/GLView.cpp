#include "gl/GLView.h"

#include "common/Error.h"
#include "gl/Context.h"
#include "gl/Texture.h"

#include <GL/glext.h>
#include <GL/glu.h>

#include <utility>

namespace quarvel {

std::unique_ptr<TOGL> GLView;

namespace {

// The view whose framebuffer drawing goes to, so that a view that goes away can hand
// drawing back to GLView.
const TOGL* CurrentView = nullptr;

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
  EnsureGLContext();
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
                "; " + GLDriverNeeded + ")");
  }
  if (samples > 0) {
    GLuint unusedDepth = 0;
    if (!BuildFramebuffer(0, w, h, ResolveFBO_, ResolveColourRB_, unusedDepth)) {
      glDeleteRenderbuffers(1, &unusedDepth);
      DeleteFramebuffers();
      throw Error("TOGL.SetPF: PF = 0 (no complete framebuffer to resolve " +
                  std::to_string(samples) + " samples into; " + GLDriverNeeded + ")");
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
  const uint8_t white[12] = {255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255};
  WhiteTexture_ = CreateTexture(2, 2, GL_RGB, white);
}

std::string TOGL::GLVersion() {
  return GLVersionString();
}

std::string TOGL::GLRenderer() {
  return GLRendererString();
}

std::string TOGL::EGLPlatform() {
  return GLPlatformName();
}

TOGL& CreateGLView(int width, int height) {
  GLView.reset();
  GLView = std::make_unique<TOGL>(width, height);
  return *GLView;
}

} // namespace quarvel
