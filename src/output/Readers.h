// Readers for the three output files: sprite containers (".kxz", all three modes),
// ".p16" palettes and raw 2P5D sheets. The program's own tests and the `view` command
// use them to look at what was written.
//
// They trust nothing they read: a truncated file, a frame count or DataSize that runs
// past the end, a run that overflows its row or crop, a row table that does not match
// the rows, an unknown mode or trailing bytes throw quarvel::Error naming the file (and
// the frame, for containers). No read goes out of bounds, and no allocation is made
// before the bytes that justify it have been checked.
#pragma once

#include "colour/Colour.h"
#include "common/AngleSheet.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarvel {

// Mode 'S' keeps only visibility: its visible pixels read back with this index.
constexpr uint8_t MaskIndex = 1;

// One container frame as read back.
struct TKXReadFrame {
  uint16_t ExtraSize = 0;
  std::vector<uint8_t> Extra;
  int16_t OffsetX = 0; // from the first four extra bytes; 0 when there are none
  int16_t OffsetY = 0;
  uint16_t Width = 0;
  uint16_t Height = 0;
  uint32_t DataSize = 0;
  // The decoded crop, Width * Height bytes each. Depth is only stored by mode 'Z'
  // (0 elsewhere); mode 'S' gives MaskIndex for visible pixels.
  std::vector<uint8_t> Pixels;
  std::vector<uint8_t> Depths;
  // The whole frame, FrameWidth * FrameHeight bytes each, zero outside the crop.
  std::vector<uint8_t> IndexPlane;
  std::vector<uint8_t> DepthPlane;
};

struct TKXContents {
  char Mode = 0;
  // The size the frames were cropped from. A container does not store it: it is either
  // given to the reader or taken as the smallest size whose centre puts every crop
  // inside the frame (exact for a frame with no visible pixel, which is stored whole).
  int32_t FrameWidth = 0;
  int32_t FrameHeight = 0;
  std::vector<TKXReadFrame> Frames;
};

// Decodes a container held in memory; `name` is used in error messages. With frameWidth
// and frameHeight > 0 every crop must lie inside a frame of that size; with 0 the size
// is inferred (see TKXContents). Full-size planes of more than 512 MiB in all are refused.
TKXContents DecodeKXZ(const uint8_t* data, size_t size, const std::string& name,
                      int32_t frameWidth = 0, int32_t frameHeight = 0);
// The same without the full-size planes (IndexPlane and DepthPlane stay empty) and so
// without their limit: what a container costs to read is then its crops.
TKXContents DecodeKXZCrops(const uint8_t* data, size_t size, const std::string& name,
                           int32_t frameWidth = 0, int32_t frameHeight = 0);
// Reads a container through the program's file lookup.
TKXContents ReadKXZ(const std::string& fileName, int32_t frameWidth = 0, int32_t frameHeight = 0);

// Reads a sprite file (KXZ container or 2P5D sheet, told apart by the container's leading
// FF 'K') whole, after checking its size against what its header can justify: a 2P5D
// sheet's sizes give its exact length, a container's frame count bounds its records and
// its pixels are bounded like the decoded planes. Only regular files are read; files of
// up to 64 KiB are always read, so that the decoders' own messages explain a bad one.
std::string ReadSpriteFile(const std::string& fileName);

// The frames side by side as a sheet: SheetWidth = frame count * FrameWidth, index and
// depth planes filled from the crops (contents from either decoder); the palette is left
// zero and the colour and side planes empty.
TAngleSheet KXZToSheet(const TKXContents& contents);

// A ".p16" file: exactly 512 bytes, 256 little-endian RGB565 words.
std::array<uint16_t, 256> DecodePalette16(const uint8_t* data, size_t size,
                                          const std::string& name);
std::array<uint16_t, 256> ReadPalette16(const std::string& fileName);
// The words expanded to palette entries (low bits zero, extra byte 0).
std::array<TPaletteEntry, 256> Palette16ToEntries(const std::array<uint16_t, 256>& words);

// A raw 2P5D file: sizes, depth plane, index plane and palette, exactly
// 1036 + 2 * SheetWidth * Height bytes, with SheetWidth a multiple of FrameWidth > 0.
// Gives a sheet with SheetWidth, Height, FrameWidth, DepthPlane, IndexPlane and Palette.
TAngleSheet Decode2P5D(const uint8_t* data, size_t size, const std::string& name);
TAngleSheet Read2P5D(const std::string& fileName);

} // namespace quarvel
