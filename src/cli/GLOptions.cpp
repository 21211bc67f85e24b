#include "cli/GLOptions.h"

#include "gl/GLView.h"

namespace quarvel::cli {

void AddGLDeviceOptions(CLI::App& sub, TGLDeviceOptions& options) {
  sub.add_option("--renderer", options.Renderer,
                 "Which kind of OpenGL renderer draws: auto (a hardware one when there is one, "
                 "else the software rasteriser), hardware or software. The renderer changes "
                 "the bytes of every sprite: use software for output that is the same on "
                 "every machine (default: auto)")
      ->check(CLI::IsMember({"auto", "hardware", "software"}, CLI::ignore_case));
  sub.add_option("--gl-device", options.Device,
                 "Draw on OpenGL device N, numbered as `gl-info --all` lists them (default: the "
                 "environment variable QUARVEL_GL_DEVICE, else chosen by --renderer)")
      ->check(CLI::Range(0, 99));
}

void ApplyGLDeviceOptions(const TGLDeviceOptions& options) {
  TGLDeviceRequest request;
  ParseRendererWish(options.Renderer, request.Wish); // checked by the option already
  request.Device = options.Device;
  SetGLDeviceRequest(request);
}

std::vector<std::string> GLDeviceArguments(const TGLDeviceOptions& options) {
  std::vector<std::string> out;
  TRendererWish wish = TRendererWish::Auto;
  if (ParseRendererWish(options.Renderer, wish) && wish != TRendererWish::Auto) {
    out.push_back("--renderer");
    out.push_back(RendererWishName(wish));
  }
  if (options.Device >= 0) {
    out.push_back("--gl-device");
    out.push_back(std::to_string(options.Device));
  }
  return out;
}

std::string SoftwareRendererNote() {
  const TGLDeviceChoice& choice = GLDeviceReport().Choice;
  if (!choice.Software)
    return {};
  // "llvmpipe (LLVM 15.0.6, 256 bits)" is named by its first word.
  std::string name = TOGL::GLRenderer();
  name = name.substr(0, name.find(" ("));
  return "drawing on " + name + " (software); " + choice.Reason;
}

} // namespace quarvel::cli
