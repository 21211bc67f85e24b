#include "output/SpriteSheet.h"

#include "common/Error.h"

#include <algorithm>

namespace quarvel {

TSheetGrid SheetGridOf(int32_t frames, int32_t frameWidth, int32_t frameHeight, int32_t maxWidth) {
  if (frames <= 0 || frameWidth <= 0 || frameHeight <= 0)
    throw Error("cannot lay out " + std::to_string(frames) + " frames of " +
                std::to_string(frameWidth) + " x " + std::to_string(frameHeight) + " pixels");
  TSheetGrid grid;
  grid.FrameWidth = frameWidth;
  grid.FrameHeight = frameHeight;
  grid.Columns = std::min(frames, std::max(1, maxWidth / frameWidth));
  grid.Rows = (frames + grid.Columns - 1) / grid.Columns;
  return grid;
}

int SheetChannels(TOutputKind kind) {
  return kind == TOutputKind::DepthSheet || kind == TOutputKind::MaskSheet ? 1 : 4;
}

namespace {

// Palette entry i as red, green, blue.
void PutEntry(uint8_t* rgb, uint32_t entry) {
  rgb[0] = static_cast<uint8_t>(entry >> 16);
  rgb[1] = static_cast<uint8_t>(entry >> 8);
  rgb[2] = static_cast<uint8_t>(entry);
}

// Pixel i of the angle sheet (its own layout) as the sheet of `kind` shows it, into `out`.
void PutPixel(const TAngleSheet& s, size_t i, TOutputKind kind, const TSheetOptions& options,
              uint8_t* out) {
  const bool covered = s.DepthPlane[i] != 0;
  switch (kind) {
  case TOutputKind::DepthSheet:
    out[0] = s.DepthPlane[i];
    return;
  case TOutputKind::MaskSheet:
    out[0] = covered ? s.SidePlane[i] : 0;
    return;
  case TOutputKind::NormalSheet:
    if (!covered) {
      out[0] = out[1] = 128;
      out[2] = 255;
      out[3] = 0;
      return;
    }
    out[0] = s.NormalPlane[i * 3];
    out[1] = options.NormalYDown ? static_cast<uint8_t>(255 - s.NormalPlane[i * 3 + 1])
                                 : s.NormalPlane[i * 3 + 1];
    out[2] = s.NormalPlane[i * 3 + 2];
    out[3] = 255;
    return;
  default:
    if (!covered) {
      out[0] = out[1] = out[2] = out[3] = 0;
      return;
    }
    if (options.Palette || s.SidePlane[i] != 0) {
      PutEntry(out, s.Palette[s.IndexPlane[i]]);
    } else {
      const uint8_t* bgr = &s.ColourPlane[i * 3];
      out[0] = bgr[2];
      out[1] = bgr[1];
      out[2] = bgr[0];
    }
    out[3] = 255;
  }
}

} // namespace

std::vector<uint8_t> SheetPixels(const TAngleSheet& sheet, const TSheetGrid& grid, TOutputKind kind,
                                 const TSheetOptions& options) {
  const size_t pixels = sheet.PixelCount();
  if (sheet.DepthPlane.size() < pixels || sheet.SidePlane.size() < pixels ||
      sheet.ColourPlane.size() < pixels * 3 || sheet.IndexPlane.size() < pixels)
    throw Error("the sheet is not finished: a plane is smaller than the sheet");
  if (kind == TOutputKind::NormalSheet && sheet.NormalPlane.size() < pixels * 3)
    throw Error("the sheet has no normals: the normal pass did not run");
  if (grid.FrameWidth != sheet.FrameWidth || grid.FrameHeight != sheet.Height ||
      grid.Columns * grid.Rows < sheet.FrameCount())
    throw Error("the sheet's frames do not fit the grid");

  const size_t channels = static_cast<size_t>(SheetChannels(kind));
  const size_t width = static_cast<size_t>(grid.Width());
  std::vector<uint8_t> out(width * static_cast<size_t>(grid.Height()) * channels, 0);
  if (kind == TOutputKind::NormalSheet)
    for (size_t i = 0; i < out.size(); i += 4) {
      out[i] = out[i + 1] = 128;
      out[i + 2] = 255;
    }
  const size_t sheetWidth = static_cast<size_t>(sheet.SheetWidth);
  for (int32_t f = 0; f < sheet.FrameCount(); ++f)
    for (int32_t y = 0; y < sheet.Height; ++y) {
      const size_t from = static_cast<size_t>(y) * sheetWidth +
                          static_cast<size_t>(f) * static_cast<size_t>(sheet.FrameWidth);
      uint8_t* to = &out[(static_cast<size_t>(grid.FrameY(f) + y) * width +
                          static_cast<size_t>(grid.FrameX(f))) *
                         channels];
      for (int32_t x = 0; x < sheet.FrameWidth; ++x, to += channels)
        PutPixel(sheet, from + static_cast<size_t>(x), kind, options, to);
    }
  return out;
}

} // namespace quarvel
