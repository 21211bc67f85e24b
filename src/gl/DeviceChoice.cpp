#include "gl/DeviceChoice.h"

#include "common/Error.h"
#include "common/Text.h"

#include <cstdlib>

namespace quarvel {

namespace {

std::string KindOf(bool software) {
  return software ? "software" : "hardware";
}

// "device 0 (llvmpipe ...)" for messages.
std::string Describe(const TGLCandidate& c) {
  return c.Platform + (c.Renderer.empty() ? std::string() : " (" + c.Renderer + ")");
}

// An outside value quoted back: printable ASCII only, at most 24 characters.
std::string Shown(const std::string& text) {
  std::string out;
  for (const char ch : text) {
    if (out.size() >= 24) {
      out += "...";
      break;
    }
    const unsigned char u = static_cast<unsigned char>(ch);
    out += (u >= 0x20 && u < 0x7f) ? ch : '?';
  }
  return out;
}

} // namespace

bool ParseRendererWish(const std::string& word, TRendererWish& wish) {
  const std::string w = ToLowerASCII(word);
  if (w == "auto")
    wish = TRendererWish::Auto;
  else if (w == "hardware")
    wish = TRendererWish::Hardware;
  else if (w == "software")
    wish = TRendererWish::Software;
  else
    return false;
  return true;
}

const char* RendererWishName(TRendererWish wish) {
  switch (wish) {
  case TRendererWish::Hardware:
    return "hardware";
  case TRendererWish::Software:
    return "software";
  case TRendererWish::Auto:
    break;
  }
  return "auto";
}

bool IsSoftwareRenderer(const std::string& renderer) {
  const std::string r = ToLowerASCII(renderer);
  for (const char* name : {"llvmpipe", "softpipe", "swrast", "software rasterizer"})
    if (r.find(name) != std::string::npos)
      return true;
  return false;
}

TGLDeviceChoice ChooseGLDevice(const std::vector<TGLCandidate>& candidates,
                               const TGLDeviceRequest& request) {
  TGLDeviceChoice choice;
  const int count = static_cast<int>(candidates.size());
  if (request.Device >= 0) {
    if (request.Device >= count) {
      choice.Reason = "there is no OpenGL device " + std::to_string(request.Device) + " (" +
                      (count == 0 ? std::string("none was found")
                                  : "the devices are numbered 0 to " + std::to_string(count - 1)) +
                      "; `quarvel-cli gl-info --all` lists them)";
      return choice;
    }
    const TGLCandidate& c = candidates[static_cast<size_t>(request.Device)];
    if (!c.Usable) {
      choice.Reason = "OpenGL device " + std::to_string(request.Device) + " (" + c.Platform +
                      ") cannot be used: " + c.Failure;
      return choice;
    }
    const bool software = IsSoftwareRenderer(c.Renderer);
    if (request.Wish != TRendererWish::Auto &&
        software != (request.Wish == TRendererWish::Software)) {
      choice.Reason = "OpenGL device " + std::to_string(request.Device) + " is " + Describe(c) +
                      ", a " + KindOf(software) + " renderer, but --renderer " +
                      RendererWishName(request.Wish) + " was asked for";
      return choice;
    }
    choice.Index = request.Device;
    choice.Software = software;
    choice.Reason = "asked for by its number (--gl-device or QUARVEL_GL_DEVICE)";
    return choice;
  }

  int firstHardware = -1, firstSoftware = -1;
  for (int i = 0; i < count; ++i) {
    const TGLCandidate& c = candidates[static_cast<size_t>(i)];
    if (!c.Usable)
      continue;
    int& first = IsSoftwareRenderer(c.Renderer) ? firstSoftware : firstHardware;
    if (first < 0)
      first = i;
  }
  switch (request.Wish) {
  case TRendererWish::Auto:
    if (firstHardware >= 0) {
      choice.Index = firstHardware;
      choice.Reason = "the first hardware renderer";
    } else if (firstSoftware >= 0) {
      choice.Index = firstSoftware;
      choice.Software = true;
      choice.Reason = "no hardware OpenGL device was found";
    }
    break;
  case TRendererWish::Hardware:
    if (firstHardware >= 0) {
      choice.Index = firstHardware;
      choice.Reason = "the first hardware renderer, as --renderer hardware asks";
    } else {
      choice.Reason = "no hardware OpenGL device was found (--renderer hardware); "
                      "`quarvel-cli gl-info --all` lists the devices";
      return choice;
    }
    break;
  case TRendererWish::Software:
    if (firstSoftware >= 0) {
      choice.Index = firstSoftware;
      choice.Software = true;
      choice.Reason = "the first software renderer, as --renderer software asks";
    } else {
      choice.Reason = "no software OpenGL renderer (llvmpipe, softpipe, swrast) was found "
                      "(--renderer software); `quarvel-cli gl-info --all` lists the devices";
      return choice;
    }
    break;
  }
  if (choice.Index < 0) {
    std::string tried;
    for (const TGLCandidate& c : candidates)
      tried += "; " + c.Platform + ": " + c.Failure;
    choice.Reason = count == 0 ? "no EGL display (tried the device, surfaceless and default "
                                 "platforms)"
                               : "no OpenGL 2.0 context (" + tried.substr(2) + ")";
  }
  return choice;
}

int GLDeviceFromEnvironment() {
  const char* value = std::getenv("QUARVEL_GL_DEVICE");
  if (value == nullptr || *value == '\0')
    return -1;
  const std::string text = value;
  int number = 0;
  bool ok = text.size() <= 2;
  for (const char ch : text) {
    if (ch < '0' || ch > '9')
      ok = false;
    else
      number = number * 10 + (ch - '0');
  }
  if (!ok)
    throw Error("QUARVEL_GL_DEVICE is \"" + Shown(text) +
                "\": give a device number from 0 to 99 (`quarvel-cli gl-info --all` lists "
                "them), or unset it");
  return number;
}

} // namespace quarvel
