// The options that say which OpenGL device draws, shared by `render` and `gl-info`:
//   --renderer auto|hardware|software   (default auto: a hardware renderer when there is one)
//   --gl-device N                       (a device by its number in `gl-info --all`; the
//                                        environment variable QUARVEL_GL_DEVICE otherwise)
#pragma once

#include "gl/DeviceChoice.h"

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace quarvel::cli {

struct TGLDeviceOptions {
  std::string Renderer = "auto";
  int Device = -1; // -1: not given
};

void AddGLDeviceOptions(CLI::App& sub, TGLDeviceOptions& options);
// Hands the options to the GL view (before it is made).
void ApplyGLDeviceOptions(const TGLDeviceOptions& options);
// The options as command-line arguments (nothing for the defaults), for the key of the
// renderer fingerprint's cache.
std::vector<std::string> GLDeviceArguments(const TGLDeviceOptions& options);
// "drawing on llvmpipe (software); no hardware OpenGL device was found" when the view
// draws on a software rasteriser, else empty. Needs the view.
std::string SoftwareRendererNote();

} // namespace quarvel::cli
