// PNG sprite sheets of a finished angle sheet, and the atlas that says where each frame is.
//
// An angle sheet keeps its frames side by side in one row (common/AngleSheet.h), which a
// job of many frames makes far wider than a texture may be. The PNG sheets lay the same
// frames out in rows instead: as many per row as fit in TSheetOptions::SheetMax pixels
// (at least one), frame f at column f % Columns of row f / Columns, the last row cut to
// its frames when it is the only one. Every frame of a job has one size after gap
// removal, so the grid is exact and every sheet of the angle (colour, depth, mask,
// normal) shares it.
//
// The pixels, row 0 at the top, rows packed:
//   colour: RGBA. A pixel without depth is (0, 0, 0, 0); one with depth has alpha 255
//           and the visual pass's colour, except that a side pixel shows its palette
//           entry (the side ramp's colour for its shade) and, with Palette, every pixel
//           does, as the paletted files show them before an engine tints them;
//   depth:  grey, the depth plane's byte;
//   mask:   grey, the side shade (0 for every other pixel);
//   normal: RGBA, the normal pass's colour (normal * 0.5 + 0.5 in the camera's screen
//           space, +Y up; green inverted with NormalYDown), alpha as in the colour sheet;
//           a pixel without depth is the flat normal (128, 128, 255) with alpha 0, so
//           that filtering at the silhouette does not tilt the edge.
//
// The sheet must be finished (output/Finishing.h): the colours use its IndexPlane.
#pragma once

#include "common/AngleSheet.h"
#include "output/OutputSet.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarvel {

struct TSheetGrid {
  int32_t Columns = 0;
  int32_t Rows = 0;
  int32_t FrameWidth = 0;
  int32_t FrameHeight = 0;
  int32_t Width() const { return Columns * FrameWidth; }
  int32_t Height() const { return Rows * FrameHeight; }
  // The top left corner of frame f on the sheet.
  int32_t FrameX(int32_t f) const { return f % Columns * FrameWidth; }
  int32_t FrameY(int32_t f) const { return f / Columns * FrameHeight; }
};

// The grid of `frames` frames of frameWidth x frameHeight in sheets at most maxWidth wide
// (a frame wider than that gets a row of its own). Throws quarvel::Error for a size or
// count that is not positive.
TSheetGrid SheetGridOf(int32_t frames, int32_t frameWidth, int32_t frameHeight, int32_t maxWidth);

// The pixels of one PNG sheet of `sheet` laid out on `grid`: 4 bytes per pixel for the
// colour and normal sheets, 1 for depth and mask. `kind` is one of the PNG format's
// picture kinds; a normal sheet needs the sheet's NormalPlane.
std::vector<uint8_t> SheetPixels(const TAngleSheet& sheet, const TSheetGrid& grid, TOutputKind kind,
                                 const TSheetOptions& options);
// Bytes per pixel of SheetPixels for `kind`.
int SheetChannels(TOutputKind kind);

} // namespace quarvel
