#include "harness/FuzzReaders.h"

#include "common/Error.h"
#include "harness/FuzzSupport.h"
#include "output/Finishing.h"
#include "output/KXFile.h"
#include "output/Palette16.h"
#include "output/Readers.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace quarvel {

const char* const FuzzReaderName = "fuzz-input";

namespace {

size_t NonZero(const std::vector<uint8_t>& bytes) {
  return static_cast<size_t>(
      std::count_if(bytes.begin(), bytes.end(), [](uint8_t b) { return b != 0; }));
}

bool SameBytes(const std::vector<uint8_t>& a, const uint8_t* data, size_t size) {
  return a.size() == size && (size == 0 || std::memcmp(a.data(), data, size) == 0);
}

} // namespace

std::string FuzzKXZBytes(const uint8_t* data, size_t size) {
  TKXContents kx;
  try {
    kx = DecodeKXZ(data, size, FuzzReaderName);
  } catch (const Error& e) {
    const std::string message = e.what();
    FuzzCheck(message.rfind(std::string(FuzzReaderName) + ": ", 0) == 0);
    return message;
  }
  const size_t framePixels =
      static_cast<size_t>(kx.FrameWidth) * static_cast<size_t>(kx.FrameHeight);
  for (const TKXReadFrame& r : kx.Frames) {
    FuzzCheck(r.Extra.size() == r.ExtraSize);
    FuzzCheck(r.Pixels.empty() || r.Pixels.size() == size_t{r.Width} * r.Height);
    FuzzCheck(r.Depths.size() == r.Pixels.size());
    FuzzCheck(r.IndexPlane.size() == framePixels && r.DepthPlane.size() == framePixels);
    // The whole crop lies inside the frame: every visible pixel arrives there.
    FuzzCheck(NonZero(r.IndexPlane) == NonZero(r.Pixels));
  }
  // The checks below copy the planes twice more; the reader allows 512 MiB of them, which
  // the copies would take past the fuzzer's memory limit, so they run on smaller files.
  if (framePixels * kx.Frames.size() > (size_t{32} << 20))
    return "";
  const TAngleSheet sheet = KXZToSheet(kx);
  FuzzCheck(sheet.IndexPlane.size() == sheet.PixelCount());
  FuzzCheck(sheet.DepthPlane.size() == sheet.PixelCount());

  // Written again (as mode 'Z') and read at the same frame size, the planes come back.
  // Errors here are faults: what the reader accepted, the writer must take.
  if (kx.FrameWidth > 0 && kx.FrameHeight > 0 && kx.FrameWidth <= 65535 &&
      kx.FrameHeight <= 65535 && !kx.Frames.empty()) {
    const std::vector<uint8_t> again = SheetToKXZ(sheet);
    const TKXContents back =
        DecodeKXZ(again.data(), again.size(), FuzzReaderName, kx.FrameWidth, kx.FrameHeight);
    FuzzCheck(back.Frames.size() == kx.Frames.size());
    for (size_t f = 0; f < kx.Frames.size(); ++f) {
      FuzzCheck(back.Frames[f].IndexPlane == kx.Frames[f].IndexPlane);
      FuzzCheck(back.Frames[f].DepthPlane == kx.Frames[f].DepthPlane);
    }
  }
  return "";
}

std::string FuzzPalette16Bytes(const uint8_t* data, size_t size) {
  std::array<uint16_t, 256> words{};
  try {
    words = DecodePalette16(data, size, FuzzReaderName);
  } catch (const Error& e) {
    const std::string message = e.what();
    FuzzCheck(message.rfind(std::string(FuzzReaderName) + ": ", 0) == 0);
    return message;
  }
  // Expanded to entries and written again, the file comes back byte for byte.
  FuzzCheck(SameBytes(Palette16Bytes(Palette16ToEntries(words)), data, size));
  return "";
}

std::string Fuzz2P5DBytes(const uint8_t* data, size_t size) {
  TAngleSheet sheet;
  try {
    sheet = Decode2P5D(data, size, FuzzReaderName);
  } catch (const Error& e) {
    const std::string message = e.what();
    FuzzCheck(message.rfind(std::string(FuzzReaderName) + ": ", 0) == 0);
    return message;
  }
  FuzzCheck(sheet.FrameWidth > 0 && sheet.FrameCount() * sheet.FrameWidth == sheet.SheetWidth);
  FuzzCheck(sheet.IndexPlane.size() == sheet.PixelCount());
  FuzzCheck(sheet.DepthPlane.size() == sheet.PixelCount());
  FuzzCheck(SameBytes(Make2P5D(sheet), data, size));
  return "";
}

} // namespace quarvel
