// The 256-entry palette of every angle sheet.
//
// Layout after building (entries as (red, green, blue, extra)):
//   0..24       (255, 0, 255, 0)   reserved; overwritten by the side ramp when saving
//   25..24+n    the n <= 231 quantized colours in the quantizer's order, extra 0
//   25+n..255   (255, 0, 255, 255) unused
// The colours are the sheet's distinct colours (each once, in order of first appearance
// walking rows top to bottom across all frames), snapped to RGB565 and run through the
// octree quantizer (231 colours, 8 bits). Pixels equal to one of the 25 reserved colours
// never reach the quantizer. With single output the per-sheet palettes are merged into
// one palette shared by all sheets.
//
// Nothing here fails except through the quantizer's assertions (a one-row image of
// 1,048,576 or more distinct colours).
#pragma once

#include "colour/Colour.h"
#include "common/AngleSheet.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quarvel {

constexpr int ReservedEntries = 25;
constexpr int PaletteColourLimit = 256 - ReservedEntries; // 231

using TPalette = std::array<TPaletteEntry, 256>;

// The reserved colours: BackgroundKey, then (0, 5 i, (29 i) mod 256) for i = 1..24.
const std::array<TRGBTriple, ReservedEntries>& ReservedColours();

// An ordered set of colours: keeps first-appearance order like a list searched linearly,
// at constant cost per append. Starts with the 25 reserved colours.
class TUniqueColourList {
public:
  TUniqueColourList();
  ~TUniqueColourList();
  TUniqueColourList(const TUniqueColourList&) = delete;
  TUniqueColourList& operator=(const TUniqueColourList&) = delete;

  // Appends the colour unless it is already in the list.
  void AddUniqueColour(TRGBTriple Colour);
  const TRGBTripleArray& Colours() const { return List; }
  int32_t Count() const { return static_cast<int32_t>(List.size()); }
  // Hands the list over; the object is then empty and must not be appended to.
  TRGBTripleArray TakeColours();

private:
  TRGBTripleArray List;
  std::vector<uint64_t> Own;   // used only while another list holds the thread's table
  std::vector<uint64_t>* Seen; // one bit per 24-bit colour (see .cpp)
  bool Shared;
};

// The sheet's distinct colours: the reserved 25, then the colour plane's in order of
// first appearance (row by row over the whole sheet width).
TRGBTripleArray DistinctColours(const TAngleSheet& Sheet);

// Quantizes a one-row image to 231 colours and lays out a palette: every entry
// (255, 0, 255, 255), then entries 25.. the quantizer's colours unchanged.
TPalette QuantizeToPalette(const TRGBTriple* Pixels, size_t Count);
inline TPalette QuantizeToPalette(const TRGBTripleArray& Row) {
  return QuantizeToPalette(Row.data(), Row.size());
}

// One sheet's own palette (steps 1 to 6 of building): entries 0..24 end (255, 0, 255, 0).
void MakeSheetPalette(TAngleSheet& Sheet);

// Merges the palettes of all sheets (entries 25..255 that are not the background key, in
// sheet order, unsnapped) into one and gives it to every sheet. Entries 0..24 become
// (255, 0, 255, 255); saving overwrites them.
void MakeSharedPalette(std::vector<TAngleSheet>& Sheets);

// Progress sink: Percent 0..100 and a status text.
using TPaletteProgress = std::function<void(int32_t Percent, const std::string& Text)>;

// The whole palette step of a render: MakeSheetPalette for each sheet in angle order,
// reporting (Trunc(a / sheet count * 100), "Making 8 Bit Palette") after sheet a, then
// MakeSharedPalette when SingleOutput is set. Progress may be empty.
void BuildSheetPalettes(std::vector<TAngleSheet>& Sheets, bool SingleOutput,
                        const TPaletteProgress& Progress);

} // namespace quarvel
