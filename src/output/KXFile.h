// The engine's sprite container (".kxz"): a short header and one record per animation
// frame, each frame cropped to the bounding box of its visible pixels, placed relative
// to the frame centre and run-length compressed in one of three modes:
//   'S'  visibility mask only (one byte per run, runs may cross rows);
//   'X'  palette indices only (transparent runs, colour runs and literals);
//   'Z'  palette index and depth byte per visible pixel, with a row table.
// The render jobs always write mode 'Z'; the palette travels in a ".p16" file beside the
// container (output/Palette16.h). Reading containers back is output/Readers.h.
//
// Layout, all integers little-endian:
//   FF 'K' ('.' for mode 'Z', else 'X') mode 00 00 mode, frame count (u16), records.
//   Record: ExtraSize (u16), ExtraSize bytes (OffsetX s16, OffsetY s16), Width (u16),
//   Height (u16), DataSize (u32), then DataSize bytes when Width, Height and DataSize are
//   all non-zero.
//
// Failures: a frame index out of range, a frame larger than 65535 pixels either way, more
// than 65535 frames, or a file that cannot be written throw quarvel::Error.
#pragma once

#include "common/AngleSheet.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarvel {

// One frame record. The compressed data is made only while the record is written (and
// dropped afterwards), so it is not kept here; DataSize is its length at the last write.
struct TKXFrame {
  uint32_t DataSize = 0;
  std::vector<uint8_t> Pixels; // cropped index plane, Width * Height, row-major
  std::vector<uint8_t> Depths; // cropped depth plane, same shape
  std::vector<uint8_t> Extra;  // ExtraSize bytes: OffsetX then OffsetY once written
  uint16_t ExtraSize = 0;      // 4 once a frame is added; 0 in an empty record
  int16_t OffsetX = 0;         // left edge of the crop minus FrameWidth div 2
  int16_t OffsetY = 0;         // top edge of the crop minus FrameHeight div 2
  uint16_t Width = 0;
  uint16_t Height = 0;
};

// Bounding box of the non-zero bytes of an index plane of width * height bytes, inclusive.
// A plane with no non-zero byte gives the whole frame.
struct TKXBounds {
  int Left = 0;
  int Right = 0;
  int Top = 0;
  int Bottom = 0;
};
TKXBounds FindBounds(const uint8_t* indexPlane, int width, int height);

// The three encoders, appending to `out`. `pixels` (and `depths`) hold width * height
// bytes row-major; a pixel is visible when its index byte is non-zero.
void EncodeS(const uint8_t* pixels, size_t count, std::vector<uint8_t>& out);
void EncodeX(const uint8_t* pixels, size_t count, std::vector<uint8_t>& out);
void EncodeZ(const uint8_t* pixels, const uint8_t* depths, int width, int height,
             std::vector<uint8_t>& out);

class TKX_File {
public:
  // `mode` is 'S', 'X' or 'Z'. Any other letter is kept and written into the header,
  // but its frames get no data (DataSize 0); readers refuse such files.
  explicit TKX_File(char mode);

  char Mode() const { return FMode; }

  std::vector<TKXFrame> Frames;
  // Size of the uncropped frames handed to AddFrame; set before adding frames.
  int32_t FrameWidth = 0;
  int32_t FrameHeight = 0;

  // Appends `count` empty records (all fields zero).
  void SetFrameCount(int count);
  // Crops the FrameWidth * FrameHeight planes (row-major) into record `index`.
  void AddFrame(int index, const uint8_t* indexPlane, const uint8_t* depthPlane);
  // Appends the header and every frame record to `stream`; updates each record's
  // DataSize and Extra.
  void WriteToStream(std::vector<uint8_t>& stream);
  // Writes the container through a temporary file renamed over `fileName`; missing
  // folders are created.
  void SaveToFile(const std::string& fileName);
  void ClearFrames() { Frames.clear(); }

private:
  char FMode;
};

// One angle sheet as a mode 'Z' container: one frame per FrameWidth columns of the
// sheet's IndexPlane and DepthPlane (both SheetWidth * Height bytes).
std::vector<uint8_t> SheetToKXZ(const TAngleSheet& sheet);

// The name of a container's palette file: the extension of the last path component
// replaced by ".p16" (appended when there is none).
std::string Palette16Name(const std::string& containerName);

// Writes one angle sheet as a mode 'Z' container `fileName` and its 256-entry palette as
// the ".p16" file beside it (Palette16Name). Both are built in memory first; the
// container is written before the palette.
void WriteKXZ(const std::string& fileName, const TAngleSheet& sheet);

} // namespace quarvel
