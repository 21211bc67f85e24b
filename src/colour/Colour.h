// Colour forms, conversions, lightness and the table of all 65,536 RGB565 colours.
//
// Four forms are in use, all with unsigned 8-bit components:
//   TRGBTriple     3 bytes in memory order blue, green, red (a pixel of a 24-bit plane);
//   TColor         32 bits: red bits 0-7, green 8-15, blue 16-23, bits 24-31 zero;
//   palette entry  32 bits: blue bits 0-7, green 8-15, red 16-23, an extra byte in 24-31;
//   RGB565 word    16 bits: red bits 11-15, green 5-10, blue 0-4.
// Expanding an RGB565 word only shifts (full white is 248, 252, 248); reducing to RGB565
// only truncates. A colour is "representable" when reducing and expanding gives it back.
//
// Every colour that reaches an output file must be representable, because the engine
// reading the files works in RGB565 only. Nothing here allocates, fails or holds state
// besides the two read-only tables, which are built at compile time.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace quarvel {

struct TRGBTriple {
  uint8_t Blue = 0;
  uint8_t Green = 0;
  uint8_t Red = 0;

  friend constexpr bool operator==(const TRGBTriple& a, const TRGBTriple& b) {
    return a.Blue == b.Blue && a.Green == b.Green && a.Red == b.Red;
  }
  friend constexpr bool operator!=(const TRGBTriple& a, const TRGBTriple& b) { return !(a == b); }
};
static_assert(sizeof(TRGBTriple) == 3, "a triple is one pixel of a 24-bit plane");

using TRGBTripleArray = std::vector<TRGBTriple>;
using TColor = uint32_t;
using TPaletteEntry = uint32_t;

constexpr TRGBTriple MakeTriple(uint8_t red, uint8_t green, uint8_t blue) {
  return TRGBTriple{blue, green, red};
}

// Marks background in a sheet's colour plane; kept out of the quantized colours.
constexpr TRGBTriple BackgroundKey = MakeTriple(255, 0, 255);

constexpr TColor MakeColor(uint8_t red, uint8_t green, uint8_t blue) {
  return static_cast<TColor>(red) | (static_cast<TColor>(green) << 8) |
         (static_cast<TColor>(blue) << 16);
}

constexpr TColor RGB565ToColor(uint16_t w) {
  return MakeColor(static_cast<uint8_t>((w >> 11) << 3), static_cast<uint8_t>(((w >> 5) & 63) << 2),
                   static_cast<uint8_t>((w & 31) << 3));
}

constexpr uint16_t ColorToRGB565(TColor c) {
  const uint32_t red = c & 0xFF, green = (c >> 8) & 0xFF, blue = (c >> 16) & 0xFF;
  return static_cast<uint16_t>(((red >> 3) << 11) | ((green >> 2) << 5) | (blue >> 3));
}

constexpr TRGBTriple ColorToTriple(TColor c) {
  return MakeTriple(static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8),
                    static_cast<uint8_t>(c >> 16));
}

constexpr TColor TripleToColor(TRGBTriple t) {
  return MakeColor(t.Red, t.Green, t.Blue);
}

// The RGB565 word of a triple, each component truncated (what the .p16 file holds).
constexpr uint16_t TripleToRGB565(TRGBTriple t) {
  return ColorToRGB565(TripleToColor(t));
}

constexpr TPaletteEntry MakeEntry(uint8_t red, uint8_t green, uint8_t blue, uint8_t extra) {
  return static_cast<TPaletteEntry>(blue) | (static_cast<TPaletteEntry>(green) << 8) |
         (static_cast<TPaletteEntry>(red) << 16) | (static_cast<TPaletteEntry>(extra) << 24);
}

constexpr TPaletteEntry TripleToEntry(TRGBTriple t, uint8_t extra) {
  return MakeEntry(t.Red, t.Green, t.Blue, extra);
}

// The extra byte is dropped.
constexpr TRGBTriple EntryToTriple(TPaletteEntry e) {
  return MakeTriple(static_cast<uint8_t>(e >> 16), static_cast<uint8_t>(e >> 8),
                    static_cast<uint8_t>(e));
}

constexpr uint8_t EntryExtra(TPaletteEntry e) {
  return static_cast<uint8_t>(e >> 24);
}

// HSL lightness as a byte: (max + min) div 2 of the three components. This is exactly
// what the single-precision HSL formula truncated to a byte gives for every 8-bit input
// (the colour tests check all pairs), so no floating point is needed.
constexpr uint8_t TripleLightness(TRGBTriple t) {
  const int hi =
      t.Red > t.Green ? (t.Red > t.Blue ? t.Red : t.Blue) : (t.Green > t.Blue ? t.Green : t.Blue);
  const int lo =
      t.Red < t.Green ? (t.Red < t.Blue ? t.Red : t.Blue) : (t.Green < t.Blue ? t.Green : t.Blue);
  return static_cast<uint8_t>((hi + lo) / 2);
}

constexpr uint8_t EntryLightness(TPaletteEntry e) {
  return TripleLightness(EntryToTriple(e));
}

// True when reducing to RGB565 and expanding again gives the colour back unchanged.
constexpr bool IsRepresentable(TRGBTriple t) {
  return (t.Red & 7) == 0 && (t.Green & 3) == 0 && (t.Blue & 7) == 0;
}

// Entry i is RGB565 code i expanded (blue fastest, then green, then red) and its lightness.
extern const std::array<TRGBTriple, 65536> RGB565Table;
extern const std::array<uint8_t, 65536> RGB565Lightness;

// The entry of RGB565Table nearest to t: smallest sum of absolute component differences;
// among equals the one whose lightness is closest to t's; then the lowest code. Gives
// exactly what a scan of all 65,536 entries in code order gives, in constant time.
TRGBTriple FindNearestRGB565(TRGBTriple t);

// Leaves a representable colour alone; moves any other to FindNearestRGB565 of it.
void SnapTriple(TRGBTriple& t);

// Snaps red, green and blue of a palette entry; the extra byte stays.
void SnapEntry(TPaletteEntry& e);

} // namespace quarvel
