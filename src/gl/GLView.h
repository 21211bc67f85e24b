// The one OpenGL view of the program.
//
// Every picture - the preview and every view of a render job - is drawn into an
// offscreen framebuffer of the program's single GL context (gl/Context.h, made with the
// first view); a window, when there is one, only shows finished pictures (through the
// presenter of EndFrame).
//
// The framebuffer is Width x Height, RGBA8 colour with a 24-bit depth and 8-bit stencil
// buffer. It is multisampled with the highest of 32, 16, 8, 4, 2 samples that the driver
// accepts for a complete framebuffer; then Multisampled() is true and a render job clears
// with alpha 0, reads four bytes per pixel and takes alpha as coverage. Otherwise it is
// single-sampled and Multisampled() is false.
//
// Threading: every call comes from the thread that made the first view, where the
// context is current.
//
// Floating-point exceptions: the program relies on divisions by zero giving infinities
// or NaNs rather than traps. Linux masks every floating-point exception by default, so
// unlike the platform this was first written for, no control-word code is needed.
//
// Ownership: views own their framebuffers and the white texture; the context belongs to
// the process and outlives every view.
#pragma once

#include "gl/Context.h"

#include <GL/gl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quarvel {

// Answers whether the driver accepts a framebuffer with this many samples per pixel.
using TSampleProbe = std::function<bool(int samples)>;

// The sample-count search: tries maxSamples, then half of it, and so on while the count
// is at least 2, and returns the first count `accepted` answers true for; 0 when none
// is accepted. With maxSamples 32 the counts tried are 32, 16, 8, 4, 2.
int FindMultisampleCount(int maxSamples, const TSampleProbe& accepted);

class TOGL;
// Receives each finished picture; it may read it with view.ReadPixels.
using TPresenter = std::function<void(const TOGL& view)>;

class TOGL {
public:
  // Makes the context (first view only), the framebuffer and the fixed state, then draws
  // one empty frame. `probe` replaces the driver check of the sample-count search (tests
  // fake drivers with it); an accepted count the driver cannot build still falls back to
  // a single-sample framebuffer. Throws quarvel::Error saying what failed: no usable
  // context (EnsureGLContext), or a framebuffer that cannot be made even single-sampled
  // ("TOGL.SetPF: PF = 0 ..."). Width and height must be at least 1.
  TOGL(int width, int height, const TSampleProbe& probe = {});
  // Deletes the framebuffers and the white texture (the context stays).
  ~TOGL();
  TOGL(const TOGL&) = delete;
  TOGL& operator=(const TOGL&) = delete;

  int Width() const { return Width_; }
  int Height() const { return Height_; }
  bool Multisampled() const { return Samples_ > 0; }
  // Samples per pixel of the framebuffer; 0 when single-sampled.
  int Samples() const { return Samples_; }
  // 2 x 2 texture of white texels, bound for surfaces without a texture of their own.
  GLuint WhiteTexture() const { return WhiteTexture_; }

  // Directs drawing to this view's framebuffer and viewport. Only needed when more than
  // one view exists (tests); BeginFrame does it too.
  void MakeCurrent() const;

  // Clears colour and depth with the current clear colour and
  // loads the identity into the modelview matrix.
  void BeginFrame();
  // Finishes the picture: resolves a multisampled framebuffer and hands the picture to
  // the presenter, if one is set. Always true (there is no buffer swap to fail).
  bool EndFrame();
  // One unit per pixel, origin bottom-left, y up; depth test off.
  void Begin2D();
  // Back to the perspective projection; depth test on.
  void End2D();
  // Reallocates the framebuffer at W x H (same sample count), sets the viewport and the
  // perspective projection (45 degrees, aspect W/H, near 4, far 4000).
  void Resize(int w, int h);

  void SetPresenter(TPresenter presenter) { Presenter_ = std::move(presenter); }

  // The finished picture as bytes: Height rows of Width pixels, the BOTTOM row first,
  // each row exactly Width * bytes-per-pixel bytes (pack alignment 1, no padding).
  // format: GL_BGR (3 bytes: blue, green, red), GL_BGRA (4 bytes: blue, green, red,
  // alpha), GL_RGB or GL_RGBA. A multisampled picture is resolved first, so callers never
  // read a multisampled buffer themselves. Other formats throw quarvel::Error.
  std::vector<uint8_t> ReadPixels(GLenum format) const;

  // The GL_VERSION and GL_RENDERER strings of the context, and the way to it that was
  // taken ("surfaceless", "device 0", "default"): GLVersionString, GLRendererString and
  // GLPlatformName of gl/Context.h.
  static std::string GLVersion();
  static std::string GLRenderer();
  static std::string EGLPlatform();

private:
  void CreateFramebuffers(int samples, int w, int h);
  void DeleteFramebuffers();
  void Resolve() const;
  void CreateWhiteTexture();

  int Width_ = 0;
  int Height_ = 0;
  int Samples_ = 0;
  GLuint WhiteTexture_ = 0;
  // Drawing goes to DrawFBO_; when multisampled, pictures are resolved into ResolveFBO_
  // and read from there. Single-sampled: both are the same framebuffer.
  GLuint DrawFBO_ = 0;
  GLuint ResolveFBO_ = 0;
  GLuint ColourRB_ = 0;
  GLuint DepthRB_ = 0;
  GLuint ResolveColourRB_ = 0;
  TPresenter Presenter_;
};

// The program's view: made once by the program (window or command line) and kept until
// the process ends.
extern std::unique_ptr<TOGL> GLView;

// Makes GLView at width x height (replacing any earlier one) and returns it.
TOGL& CreateGLView(int width, int height);

} // namespace quarvel
