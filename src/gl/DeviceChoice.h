// Which OpenGL device draws.
//
// A machine can offer several ways to a headless context: each EGL device (a GPU, or
// Mesa's software device), Mesa's surfaceless platform and the default display. On a
// desktop whose GPU is driven by its vendor's own EGL the surfaceless platform gives
// Mesa's software rasteriser while the GPU sits idle, so every candidate is tried and the
// first hardware renderer wins; a software rasteriser (llvmpipe, softpipe, swrast) is
// taken only when no hardware one works.
//
// Which renderer draws changes the bytes of every sprite (a GPU and the software
// rasteriser antialias differently), so the user can pin it: TRendererWish::Software
// gives reproducible output on mixed machines, and a device number picks one candidate
// of the list `quarvel-cli gl-info --all` prints.
//
// This part holds no GL: ChooseGLDevice works on a list of candidates that the context
// backend (gl/ContextEGL.cpp) has already tried, so the choice is tested with made-up lists.
#pragma once

#include <string>
#include <vector>

namespace quarvel {

enum class TRendererWish { Auto, Hardware, Software };

// "auto", "hardware", "software" (any letter case); false for any other word.
bool ParseRendererWish(const std::string& word, TRendererWish& wish);
const char* RendererWishName(TRendererWish wish);

// One way to a context, as it came out when tried.
struct TGLCandidate {
  std::string Platform; // "device 0", "surfaceless", "default"
  bool Usable = false;  // an OpenGL 2.0 context with framebuffer objects was made
  std::string Failure;  // why not, when not usable
  std::string Vendor;   // GL_VENDOR, GL_RENDERER and GL_VERSION of that context
  std::string Renderer;
  std::string Version;
};

// True for Mesa's software rasterisers, by their GL_RENDERER string ("llvmpipe (LLVM
// 15.0.6, 256 bits)", "softpipe", "Software Rasterizer" of swrast).
bool IsSoftwareRenderer(const std::string& renderer);

// What the user asked for: a renderer kind, and optionally one candidate by its number
// (0-based, the order of the list; -1 = none).
struct TGLDeviceRequest {
  TRendererWish Wish = TRendererWish::Auto;
  int Device = -1;
};

// The outcome: the candidate's number, or -1 with Reason saying why none can be used
// (a message for the user); Reason says why the chosen one was taken otherwise.
struct TGLDeviceChoice {
  int Index = -1;
  bool Software = false;
  std::string Reason;
};

// Auto: the first usable hardware candidate, else the first usable software one.
// Hardware / Software: the first usable candidate of that kind. A device number takes
// that candidate, which must be usable and, unless the wish is Auto, of the kind asked.
TGLDeviceChoice ChooseGLDevice(const std::vector<TGLCandidate>& candidates,
                               const TGLDeviceRequest& request);

// The device number in QUARVEL_GL_DEVICE: -1 when the variable is unset or empty; throws
// quarvel::Error when it is not a number from 0 to 99.
int GLDeviceFromEnvironment();

} // namespace quarvel
