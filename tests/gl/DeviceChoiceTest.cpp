// The choice of the OpenGL device over made-up candidate lists: no GL is needed, so
// machines with GPUs, with vendors' EGLs and without anything are all covered here.
#include "gl/DeviceChoice.h"
#include "common/Error.h"
#include "common/Text.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace quarvel {
namespace {

TGLCandidate Hardware(const std::string& platform) {
  return {platform,
          true,
          "",
          "NVIDIA Corporation",
          "NVIDIA GeForce RTX 3060/PCIe/SSE2",
          "4.6.0 NVIDIA 535.54.03"};
}
TGLCandidate Software(const std::string& platform, const std::string& renderer = "llvmpipe") {
  return {platform,
          true,
          "",
          "Mesa",
          renderer + " (LLVM 15.0.6, 256 bits)",
          "4.5 (Compatibility Profile) Mesa 22.3.6"};
}
TGLCandidate Broken(const std::string& platform, const std::string& why) {
  return {platform, false, why, "", "", ""};
}

TEST(DeviceChoice, SoftwareRenderersAreKnownByName) {
  for (const char* name : {"llvmpipe (LLVM 15.0.6, 256 bits)", "softpipe", "Software Rasterizer",
                           "Mesa X11 swrast", "LLVMPIPE"})
    EXPECT_TRUE(IsSoftwareRenderer(name)) << name;
  for (const char* name : {"NVIDIA GeForce RTX 3060/PCIe/SSE2", "AMD Radeon RX 6600 (radeonsi)",
                           "Mesa Intel(R) UHD Graphics 620 (KBL GT2)", ""})
    EXPECT_FALSE(IsSoftwareRenderer(name)) << name;
}

TEST(DeviceChoice, RendererWishWords) {
  const struct {
    const char* Word;
    bool Ok;
    TRendererWish Wish;
  } cases[] = {{"auto", true, TRendererWish::Auto},
               {"Hardware", true, TRendererWish::Hardware},
               {"SOFTWARE", true, TRendererWish::Software},
               {"gpu", false, TRendererWish::Auto},
               {"", false, TRendererWish::Auto}};
  for (const auto& c : cases) {
    TRendererWish wish = TRendererWish::Auto;
    EXPECT_EQ(ParseRendererWish(c.Word, wish), c.Ok) << c.Word;
    if (c.Ok) {
      EXPECT_EQ(wish, c.Wish) << c.Word;
      EXPECT_EQ(ToLowerASCII(RendererWishName(wish)), ToLowerASCII(c.Word));
    }
  }
}

// Each row: the candidates in list order, the request, and the expected choice (-1: none,
// with the reason containing `Says`).
TEST(DeviceChoice, ChoosesByKindAndNumber) {
  const std::vector<TGLCandidate> hardwareFirst = {Hardware("device 0"), Software("device 1"),
                                                   Software("surfaceless"), Software("default")};
  const std::vector<TGLCandidate> softwareFirst = {Software("device 0"), Hardware("device 1"),
                                                   Software("surfaceless")};
  // The vendor's device is listed but cannot make a context (say, no desktop GL offered).
  const std::vector<TGLCandidate> hardwareFails = {
      Broken("device 0", "desktop OpenGL is not offered"), Software("surfaceless", "softpipe"),
      Software("default")};
  const std::vector<TGLCandidate> onlySoftware = {Software("device 0"), Software("surfaceless")};
  const std::vector<TGLCandidate> noneUsable = {Broken("surfaceless", "eglInitialize failed"),
                                                Broken("default", "eglCreateContext failed")};
  const std::vector<TGLCandidate> empty;
  using W = TRendererWish;
  const struct {
    const char* Name;
    const std::vector<TGLCandidate>* List;
    W Wish;
    int Device;
    int Index;
    bool Software;
    const char* Says;
  } cases[] = {
      {"hardware first", &hardwareFirst, W::Auto, -1, 0, false, "hardware"},
      {"software first", &softwareFirst, W::Auto, -1, 1, false, "hardware"},
      {"hardware that fails", &hardwareFails, W::Auto, -1, 1, true, "no hardware"},
      {"only software", &onlySoftware, W::Auto, -1, 0, true, "no hardware OpenGL device was found"},
      {"none usable", &noneUsable, W::Auto, -1, -1, false, "eglCreateContext failed"},
      {"nothing at all", &empty, W::Auto, -1, -1, false, "no EGL display"},
      {"software asked, hardware first", &hardwareFirst, W::Software, -1, 1, true, "software"},
      {"software asked, software first", &softwareFirst, W::Software, -1, 0, true, "software"},
      {"software asked, none", &noneUsable, W::Software, -1, -1, false, "no software"},
      {"hardware asked", &softwareFirst, W::Hardware, -1, 1, false, "hardware"},
      {"hardware asked, it fails", &hardwareFails, W::Hardware, -1, -1, false, "no hardware"},
      {"hardware asked, none", &onlySoftware, W::Hardware, -1, -1, false, "no hardware"},
      {"number picks software", &hardwareFirst, W::Auto, 2, 2, true, "number"},
      {"number picks hardware", &softwareFirst, W::Auto, 1, 1, false, "number"},
      {"number of a broken one", &hardwareFails, W::Auto, 0, -1, false, "not offered"},
      {"number beyond the list", &onlySoftware, W::Auto, 2, -1, false, "0 to 1"},
      {"number in an empty list", &empty, W::Auto, 0, -1, false, "none was found"},
      {"number against the kind", &hardwareFirst, W::Hardware, 1, -1, false, "software renderer"},
      {"number of the kind", &hardwareFirst, W::Software, 3, 3, true, "number"},
  };
  for (const auto& c : cases) {
    const TGLDeviceChoice choice = ChooseGLDevice(*c.List, {c.Wish, c.Device});
    EXPECT_EQ(choice.Index, c.Index) << c.Name << ": " << choice.Reason;
    if (choice.Index >= 0) {
      EXPECT_EQ(choice.Software, c.Software) << c.Name;
    }
    EXPECT_NE(choice.Reason.find(c.Says), std::string::npos) << c.Name << ": " << choice.Reason;
  }
}

TEST(DeviceChoice, DeviceNumberFromTheEnvironment) {
  const char* old = std::getenv("QUARVEL_GL_DEVICE");
  const std::string saved = old ? old : "";
  const struct {
    const char* Value; // nullptr: unset
    int Number;        // -2: refused
  } cases[] = {{nullptr, -1}, {"", -1},   {"0", 0},    {"3", 3},        {"42", 42},
               {"-1", -2},    {"1x", -2}, {"100", -2}, {"\x1b[31m", -2}};
  for (const auto& c : cases) {
    test::SetEnvironment("QUARVEL_GL_DEVICE", c.Value);
    if (c.Number == -2) {
      try {
        GLDeviceFromEnvironment();
        ADD_FAILURE() << "accepted " << c.Value;
      } catch (const Error& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("QUARVEL_GL_DEVICE"), std::string::npos) << what;
        EXPECT_EQ(what.find('\x1b'), std::string::npos) << "escape quoted back raw";
      }
    } else {
      EXPECT_EQ(GLDeviceFromEnvironment(), c.Number) << (c.Value ? c.Value : "(unset)");
    }
  }
  test::SetEnvironment("QUARVEL_GL_DEVICE", old ? saved.c_str() : nullptr);
}

} // namespace
} // namespace quarvel
