// Finishing an angle sheet for output, and the raw 2P5D file.
//
// Finishing (FinishSheet) runs once per sheet after its palette is built
// (colour/Palette.h), in this order:
//   1. MapToPalette: IndexPlane := the nearest palette index of every colour pixel, while
//      entries 0..24 still hold the background key (so background maps to 0);
//   2. entries 0..24 := SideRamp;
//   3. ApplySideRamp: pixels with depth != 0 and side shade != 0 get the ramp index
//      (1..24) nearest to their shade;
//   4. SnapEntry on entries 1..24 (entry 0 is representable already).
// Running it twice on one sheet is not meaningful: step 1 would see the ramp.
//
// Raw 2P5D file, little-endian, no header or padding: SheetWidth, Height, FrameWidth as
// signed 32-bit; DepthPlane (W x H); IndexPlane (W x H); 256 palette entries of 4 bytes
// (blue, green, red, extra). 1036 + 2 W H bytes in all.
#pragma once

#include "colour/Colour.h"
#include "colour/Palette.h"
#include "common/AngleSheet.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quarvel {

constexpr int SideRampEntries = 25;

// The side-shade ramp before snapping: entry 0 (32, 96, 32); entry i (1..24) red
// Trunc(i * 31/3), green Trunc(i * 16/3), blue 4 i, extra byte 0.
const std::array<TPaletteEntry, SideRampEntries>& SideRamp();

// (red + green + blue) div 3 of unsnapped ramp entry i: what side shades are matched to.
uint8_t SideRampGrey(int i);

// Index (0..255) of the palette entry nearest to t: smallest sum of absolute differences,
// then closest lightness, then lowest index. Lightness[j] is EntryLightness(Palette[j]).
uint8_t NearestPaletteIndex(const TPalette& Palette, const std::array<uint8_t, 256>& Lightness,
                            TRGBTriple t);

// Makes Sheet.IndexPlane (SheetWidth x Height, replacing any earlier one) from the colour
// plane and the sheet's current palette. Each distinct colour is searched once.
// Throws quarvel::Error when the colour plane is smaller than the sheet.
void MapToPalette(TAngleSheet& Sheet);

// The ramp index 1..24 whose grey is nearest to shade v; ties keep the lower index.
uint8_t NearestRampIndex(uint8_t v);

// Re-indexes side pixels (depth and side both non-zero) onto the ramp; others stay.
// Throws quarvel::Error when a plane is smaller than the sheet.
void ApplySideRamp(TAngleSheet& Sheet);

// Steps 1 to 4 above: the sheet is then ready to be written in either format.
void FinishSheet(TAngleSheet& Sheet);

// The bytes of the raw 2P5D file of a finished sheet.
std::vector<uint8_t> Make2P5D(const TAngleSheet& Sheet);

// Writes Make2P5D(Sheet) to FileName, replacing an existing file (common/AtomicFile.h).
void Write2P5D(const std::string& FileName, const TAngleSheet& Sheet);

// SettingsName + "_" + angle index + "." + Extension ("2p5d" or "kxz").
std::string SheetFileName(const std::string& SettingsName, int AngleIndex,
                          const std::string& Extension);

} // namespace quarvel
