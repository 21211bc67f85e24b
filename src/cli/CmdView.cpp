// quarvel-cli view FILE: pictures of a written sprite file, so users can look at their
// sprites without the game. A ".kxz" container is shown in the colours of the ".p16"
// palette beside it; a ".2p5d" sheet carries its own palette.
//
// Two PNG files are written (by default beside FILE, or into --out DIR):
//   FILE.png        all frames side by side in their palette colours, RGBA, with index 0
//                   (the engine's transparent index) fully transparent;
//   FILE.depth.png  the depth bytes of the same pixels as 8-bit grey (0 = empty).
// The whole file name is kept in the picture names, so a .kxz and a .2p5d of the same
// angle never overwrite each other's pictures.
//
// A container does not store its frame size, and two one-pixel crops far apart make the
// inferred frame tens of thousands of pixels square: whole frames that would make a
// picture of more than --max-pixels (default 8192 x 8192) are shown as each frame's own
// crop side by side instead, which is what the file holds. That keeps every drawn pixel
// in view, where a refusal would leave the user nothing to look at and a number to
// guess; the line saying so gives the --max-pixels that shows the whole frames. Only when
// the crops side by side are over the limit too is the view refused, with both sizes.
#include "cli/Command.h"
#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/Text.h"
#include "image/Image.h"
#include "image/PictureKind.h"
#include "output/KXFile.h"
#include "output/Readers.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <memory>

namespace quarvel::cli {

namespace {

struct TViewOptions {
  std::string File;
  std::string Out;
  std::string Palette;
  std::string FrameSize;
  long long MaxPixels = 8192LL * 8192LL;
};

std::string LowerExtension(const std::string& name) {
  const size_t slash = name.find_last_of("/\\");
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return "";
  return ToLowerASCII(name.substr(dot));
}

std::string BaseName(const std::string& name) {
  const size_t slash = name.find_last_of("/\\");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

// "64x32" (or "64 x 32") into two positive sizes.
void ParseFrameSize(const std::string& text, int32_t& width, int32_t& height) {
  std::string t;
  for (char c : text)
    if (c != ' ')
      t += LowerASCII(c);
  const size_t x = t.find('x');
  try {
    if (x == std::string::npos)
      throw std::invalid_argument(t);
    size_t used = 0;
    width = std::stoi(t.substr(0, x), &used);
    if (used != x)
      throw std::invalid_argument(t);
    height = std::stoi(t.substr(x + 1), &used);
    if (used != t.size() - x - 1)
      throw std::invalid_argument(t);
  } catch (const std::logic_error&) {
    throw Error("--frame-size: '" + text + "' is not WIDTHxHEIGHT");
  }
  if (width <= 0 || height <= 0 || width > 65535 || height > 65535)
    throw Error("--frame-size: '" + text + "' is not a frame size (1 to 65535 each way)");
}

std::string FrameLine(size_t f, int width, int height, int offsetX, int offsetY) {
  return "  frame " + std::to_string(f) + ": " + std::to_string(width) + " x " +
         std::to_string(height) + " at (" + std::to_string(offsetX) + ", " +
         std::to_string(offsetY) + ")";
}

// One frame's visible part: Width x Height bytes of each plane, rows Stride bytes apart.
struct TCrop {
  int32_t Width = 0;
  int32_t Height = 0;
  const uint8_t* Index = nullptr;
  const uint8_t* Depth = nullptr;
  size_t Stride = 0;
};

std::string Size(int64_t width, int64_t height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

// The crops side by side, top-aligned in frame order, as a sheet of one frame (index and
// depth planes only); `whole` is the size of the whole frames' picture, for the messages.
// Sizes are checked against `maxPixels` before the planes are made.
TAngleSheet CropsSideBySide(const std::vector<TCrop>& crops, int64_t wholeWidth,
                            int64_t wholeHeight, long long maxPixels, const std::string& file) {
  int64_t width = 0, height = 0;
  for (const TCrop& c : crops) {
    width += c.Width;
    height = std::max<int64_t>(height, c.Height);
  }
  const std::string whole = "the whole frames make a " + Size(wholeWidth, wholeHeight) +
                            " picture, more than --max-pixels " + std::to_string(maxPixels);
  if (width * height == 0)
    throw Error(Located(file, 0, whole + ", and no frame has a visible pixel"));
  if (width * height > maxPixels)
    throw Error(Located(file, 0,
                        whole + ", and their crops side by side a " + Size(width, height) +
                            " one; nothing written (--max-pixels " +
                            std::to_string(width * height) + " shows the crops)"));
  std::cout << "  " << whole << ": the pictures show each frame's crop side by side ("
            << Size(width, height) << "; --max-pixels " << wholeWidth * wholeHeight
            << " shows the whole frames)\n";
  TAngleSheet p;
  p.SheetWidth = p.FrameWidth = static_cast<int32_t>(width);
  p.Height = static_cast<int32_t>(height);
  p.IndexPlane.assign(p.PixelCount(), 0);
  p.DepthPlane.assign(p.PixelCount(), 0);
  size_t x = 0;
  for (const TCrop& c : crops) {
    for (size_t y = 0; y < static_cast<size_t>(c.Height); ++y) {
      const auto dst = static_cast<std::ptrdiff_t>(y * static_cast<size_t>(width) + x);
      std::copy_n(c.Index + y * c.Stride, c.Width, p.IndexPlane.begin() + dst);
      std::copy_n(c.Depth + y * c.Stride, c.Width, p.DepthPlane.begin() + dst);
    }
    x += static_cast<size_t>(c.Width);
  }
  return p;
}

void WritePictures(const TAngleSheet& sheet, const std::array<TPaletteEntry, 256>& palette,
                   const std::string& file, const std::string& base) {
  if (sheet.SheetWidth <= 0 || sheet.Height <= 0)
    throw Error(Located(file, 0, "no frames to show"));
  std::vector<uint8_t> rgba(sheet.PixelCount() * 4);
  for (size_t i = 0; i < sheet.PixelCount(); ++i) {
    const uint8_t index = sheet.IndexPlane[i];
    const TRGBTriple c = EntryToTriple(palette[index]);
    rgba[4 * i + 0] = c.Red;
    rgba[4 * i + 1] = c.Green;
    rgba[4 * i + 2] = c.Blue;
    rgba[4 * i + 3] = index == 0 ? 0 : 255;
  }
  const std::string size = Size(sheet.SheetWidth, sheet.Height);
  WritePNG(base + ".png", sheet.SheetWidth, sheet.Height, 4, rgba.data());
  std::cout << "wrote " << base << ".png (" << size << ", palette colours, index 0 transparent)\n";
  WritePNG(base + ".depth.png", sheet.SheetWidth, sheet.Height, 1, sheet.DepthPlane.data());
  std::cout << "wrote " << base << ".depth.png (" << size << ", depth as grey)\n";
}

// The first bytes of a file in hex, and what kind of file they suggest when it is one a
// user may have mixed up with a sprite file: "89 50 4E 47, a PNG picture".
std::string FirstBytes(const std::string& bytes) {
  static const char hex[] = "0123456789ABCDEF";
  std::string shown;
  for (size_t i = 0; i < bytes.size() && i < 4; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    shown += (i > 0 ? " " : "") + std::string{hex[b >> 4], hex[b & 15]};
  }
  if (shown.empty())
    return "it is empty";
  shown = "it starts with " + shown;
  switch (PictureKindOf(bytes)) {
  case TPictureKind::PNG:
    shown += ", a PNG picture";
    break;
  case TPictureKind::JPEG:
    shown += ", a JPEG picture";
    break;
  case TPictureKind::BMP:
    shown += ", a BMP picture";
    break;
  case TPictureKind::None:
    break;
  }
  return shown;
}

// The message without the "FILE: " its reader put in front.
std::string WithoutFilePrefix(const std::string& message, const std::string& file) {
  const std::string prefix = file + ": ";
  return message.compare(0, prefix.size(), prefix) == 0 ? message.substr(prefix.size()) : message;
}

void RunView(const TViewOptions& options) {
  const std::string file = ResolvePath(options.File);
  const std::string bytes = ReadSpriteFile(file);
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  int32_t frameWidth = 0, frameHeight = 0;
  if (!options.FrameSize.empty())
    ParseFrameSize(options.FrameSize, frameWidth, frameHeight);

  // The extension decides; an unknown one falls back on the container's leading FF 'K'.
  // A file that is neither is said to be so: read as a 2P5D sheet, a picture gave
  // "sheet width 136389380 is not a whole number of frames", which sends the user
  // looking for a damaged sprite.
  const std::string ext = LowerExtension(file);
  const bool startsAsContainer = bytes.size() >= 2 && data[0] == 0xFF && data[1] == 'K';
  if (ext == ".p16")
    throw Error(file + " is a .p16 palette, not a sprite file: view the .kxz container that "
                       "uses it (its palette is read from here)");
  if (ext == ".kxz" && !startsAsContainer)
    throw Error(file + " is not a KXZ container: " + FirstBytes(bytes) +
                ", and a container starts with FF 4B");
  const bool container = ext == ".kxz" || (ext != ".2p5d" && startsAsContainer);
  if (!container && ext != ".2p5d") {
    try {
      Decode2P5D(data, bytes.size(), file);
    } catch (const Error& e) {
      throw Error(file + " is not a KXZ container (" + FirstBytes(bytes) +
                  ", and a container starts with FF 4B) nor a 2P5D sheet (" +
                  WithoutFilePrefix(e.what(), file) + ")");
    }
  }
  const std::string base = options.Out.empty() ? file : JoinPath(options.Out, BaseName(file));

  if (container) {
    // Without the full-size planes: the crops are what the file holds.
    const TKXContents kx = DecodeKXZCrops(data, bytes.size(), file, frameWidth, frameHeight);
    const std::string paletteName = options.Palette.empty() ? Palette16Name(file) : options.Palette;
    const auto palette = Palette16ToEntries(ReadPalette16(paletteName));
    std::cout << file << ": sprite container, mode '" << kx.Mode << "', "
              << Counted(static_cast<int64_t>(kx.Frames.size()), "frame") << " of " << kx.FrameWidth
              << " x " << kx.FrameHeight << " pixels"
              << (frameWidth > 0 ? ""
                                 : " (frame size inferred from the crops; --frame-size sets it)")
              << "\n  palette " << ResolvePath(paletteName) << "\n";
    for (size_t f = 0; f < kx.Frames.size(); ++f) {
      const TKXReadFrame& r = kx.Frames[f];
      if (r.Width == 0 || r.Height == 0)
        std::cout << "  frame " << f << ": empty record\n";
      else
        std::cout << FrameLine(f, r.Width, r.Height, r.OffsetX, r.OffsetY) << ", " << r.DataSize
                  << " bytes of data\n";
    }
    const int64_t wholeWidth = int64_t{kx.FrameWidth} * static_cast<int64_t>(kx.Frames.size());
    if (wholeWidth * kx.FrameHeight <= options.MaxPixels) {
      WritePictures(KXZToSheet(kx), palette, file, base);
      return;
    }
    std::vector<TCrop> crops;
    for (const TKXReadFrame& r : kx.Frames)
      if (!r.Pixels.empty())
        crops.push_back({r.Width, r.Height, r.Pixels.data(), r.Depths.data(), r.Width});
    WritePictures(CropsSideBySide(crops, wholeWidth, kx.FrameHeight, options.MaxPixels, file),
                  palette, file, base);
    return;
  }

  const TAngleSheet sheet = Decode2P5D(data, bytes.size(), file);
  std::cout << file << ": 2P5D sheet, " << Counted(sheet.FrameCount(), "frame") << " of "
            << sheet.FrameWidth << " x " << sheet.Height << " pixels\n";
  // The crops and offsets a container would get for these frames.
  const size_t fw = static_cast<size_t>(sheet.FrameWidth);
  std::vector<uint8_t> frame(fw * static_cast<size_t>(sheet.Height));
  std::vector<TCrop> crops;
  for (int f = 0; f < sheet.FrameCount(); ++f) {
    for (size_t y = 0; y < static_cast<size_t>(sheet.Height); ++y)
      std::copy_n(sheet.IndexPlane.begin() +
                      static_cast<std::ptrdiff_t>(y * static_cast<size_t>(sheet.SheetWidth) +
                                                  static_cast<size_t>(f) * fw),
                  fw, frame.begin() + static_cast<std::ptrdiff_t>(y * fw));
    const bool empty = std::all_of(frame.begin(), frame.end(), [](uint8_t b) { return b == 0; });
    const TKXBounds b = FindBounds(frame.data(), sheet.FrameWidth, sheet.Height);
    std::cout << FrameLine(static_cast<size_t>(f), b.Right - b.Left + 1, b.Bottom - b.Top + 1,
                           b.Left - sheet.FrameWidth / 2, b.Top - sheet.Height / 2)
              << (empty ? ", no visible pixel" : "") << "\n";
    const size_t at = static_cast<size_t>(b.Top) * static_cast<size_t>(sheet.SheetWidth) +
                      static_cast<size_t>(f) * fw + static_cast<size_t>(b.Left);
    if (!empty)
      crops.push_back({b.Right - b.Left + 1, b.Bottom - b.Top + 1, sheet.IndexPlane.data() + at,
                       sheet.DepthPlane.data() + at, static_cast<size_t>(sheet.SheetWidth)});
  }
  // The sheet is what the file holds, two bytes a pixel; the limit is on what the
  // pictures cost on top of it.
  if (static_cast<int64_t>(sheet.PixelCount()) <= options.MaxPixels)
    WritePictures(sheet, sheet.Palette, file, base);
  else
    WritePictures(CropsSideBySide(crops, sheet.SheetWidth, sheet.Height, options.MaxPixels, file),
                  sheet.Palette, file, base);
}

RegisterCommand reg("view", [](CLI::App& app) {
  auto options = std::make_shared<TViewOptions>();
  CLI::App* sub = app.add_subcommand(
      "view", "Write pictures of a sprite file (.kxz with its .p16, or .2p5d) and print its "
              "frames, to look at sprites without the game.");
  sub->add_option("FILE", options->File, "the .kxz container or .2p5d sheet")->required();
  sub->add_option("--out", options->Out,
                  "folder for the pictures (created when missing; default: beside FILE)");
  sub->add_option("--palette", options->Palette,
                  "the .p16 palette of a container (default: FILE with .p16 for its extension)");
  sub->add_option("--frame-size", options->FrameSize,
                  "WIDTHxHEIGHT of a container's uncropped frames (a container does not store "
                  "it; by default the smallest size that holds every crop around its centre)");
  sub->add_option("--max-pixels", options->MaxPixels,
                  "most pixels the pictures of whole frames may have; beyond it they show each "
                  "frame's crop side by side (default 67108864 = 8192 x 8192)")
      ->check(CLI::Range(1LL, 32768LL * 32768LL));
  sub->footer("Writes FILE.png (all frames side by side in their palette colours, index 0 "
              "transparent) and FILE.depth.png (the depth bytes as grey), and prints the frame "
              "count, the frame size and each frame's crop size and offset from the frame "
              "centre. Whole frames that would make more than --max-pixels are shown as each "
              "frame's crop side by side instead.");
  sub->callback([options] {
    RunView(*options);
    SetExitCode(0);
  });
});

} // namespace

} // namespace quarvel::cli
