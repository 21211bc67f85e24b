// A second decoder of the three output formats, written from docs/formats.md alone and
// using nothing of Quarvel's library: if the document and the program's readers ever
// disagree, one of the two decoders fails the examples.
//
// Each function throws std::runtime_error on bytes that do not follow the document.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quarvel::test::docs {

using TBytes = std::vector<uint8_t>;

// One frame as a game would draw it: the uncropped frame, index 0 where nothing is.
struct TDocFrame {
  int OffsetX = 0;
  int OffsetY = 0;
  int CropWidth = 0;
  int CropHeight = 0;
  uint32_t DataSize = 0;
  std::vector<int> Index; // FrameWidth * FrameHeight, row by row; mode S: 1 = visible
  std::vector<int> Depth; // same; 0 where the format keeps no depth
};

struct TDocContainer {
  char Mode = 0;
  std::vector<TDocFrame> Frames;
};

struct TDocSheet {
  int SheetWidth = 0;
  int Height = 0;
  int FrameWidth = 0;
  std::vector<int> Depth; // SheetWidth * Height
  std::vector<int> Index;
  std::array<std::array<int, 4>, 256> Palette{}; // red, green, blue, extra
};

class TDocReader {
public:
  explicit TDocReader(const TBytes& bytes) : B(bytes) {}
  size_t Pos = 0;
  size_t Left() const { return B.size() - Pos; }
  int U8() {
    Need(1);
    return B[Pos++];
  }
  int U16() {
    const int lo = U8();
    return lo | (U8() << 8);
  }
  int S16() {
    const int v = U16();
    return v >= 0x8000 ? v - 0x10000 : v;
  }
  uint32_t U32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
      v |= static_cast<uint32_t>(U8()) << (8 * i);
    return v;
  }
  int S32() {
    const uint32_t v = U32();
    return v >= 0x80000000u ? static_cast<int>(static_cast<int64_t>(v) - (int64_t{1} << 32))
                            : static_cast<int>(v);
  }
  void Need(size_t n) const {
    if (n > Left())
      throw std::runtime_error("file ends early at byte " + std::to_string(Pos));
  }

private:
  const TBytes& B;
};

// The raw 2P5D file: three signed 32-bit sizes, depth bytes, indices, 256 x (blue, green,
// red, extra).
inline TDocSheet DocDecode2P5D(const TBytes& bytes) {
  TDocReader in(bytes);
  TDocSheet s;
  s.SheetWidth = in.S32();
  s.Height = in.S32();
  s.FrameWidth = in.S32();
  if (s.SheetWidth < 0 || s.Height < 0 || s.FrameWidth <= 0 || s.SheetWidth % s.FrameWidth)
    throw std::runtime_error("impossible sizes");
  const size_t n = static_cast<size_t>(s.SheetWidth) * static_cast<size_t>(s.Height);
  if (bytes.size() != 1036 + 2 * n)
    throw std::runtime_error("the length is not 1036 + 2 W H");
  for (size_t i = 0; i < n; ++i)
    s.Depth.push_back(in.U8());
  for (size_t i = 0; i < n; ++i)
    s.Index.push_back(in.U8());
  for (auto& e : s.Palette) {
    const int blue = in.U8(), green = in.U8(), red = in.U8(), extra = in.U8();
    e = {red, green, blue, extra};
  }
  return s;
}

// The KXZ container, placed into frames of the given size around their centre.
inline TDocContainer DocDecodeKXZ(const TBytes& bytes, int frameWidth, int frameHeight) {
  TDocReader in(bytes);
  if (in.U8() != 0xFF || in.U8() != 'K')
    throw std::runtime_error("no ff 'K' at the start");
  const int second = in.U8();
  TDocContainer c;
  c.Mode = static_cast<char>(in.U8());
  if (c.Mode != 'S' && c.Mode != 'X' && c.Mode != 'Z')
    throw std::runtime_error("unknown mode");
  if (second != (c.Mode == 'Z' ? '.' : 'X') || in.U8() != 0 || in.U8() != 0 || in.U8() != c.Mode)
    throw std::runtime_error("header does not match its mode");
  const int count = in.U16();
  for (int f = 0; f < count; ++f) {
    TDocFrame fr;
    const int extraSize = in.U16();
    const size_t extraStart = in.Pos;
    if (extraSize >= 4) {
      fr.OffsetX = in.S16();
      fr.OffsetY = in.S16();
    }
    in.Need(extraStart + static_cast<size_t>(extraSize) - in.Pos);
    in.Pos = extraStart + static_cast<size_t>(extraSize);
    fr.CropWidth = in.U16();
    fr.CropHeight = in.U16();
    fr.DataSize = in.U32();
    const int w = fr.CropWidth, h = fr.CropHeight;
    std::vector<int> index(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
    std::vector<int> depth(index.size(), 0);
    if (w != 0 && h != 0 && fr.DataSize != 0) {
      in.Need(fr.DataSize);
      const size_t end = in.Pos + fr.DataSize;
      size_t p = 0; // pixel within the crop, row by row
      auto put = [&](int idx, int dep) {
        if (p >= index.size())
          throw std::runtime_error("more pixels than the crop has");
        index[p] = idx;
        depth[p] = dep;
        ++p;
      };
      if (c.Mode == 'Z') {
        std::vector<uint32_t> table;
        for (int r = 0; r < h; ++r)
          table.push_back(in.U32());
        const size_t pairs = in.Pos;
        for (int r = 0; r < h; ++r) {
          if (pairs + table[static_cast<size_t>(r)] != in.Pos)
            throw std::runtime_error("row table entry does not match the row's pairs");
          const size_t rowEnd = p + static_cast<size_t>(w);
          while (p < rowEnd) {
            if (in.Pos + 2 > end)
              throw std::runtime_error("data ends within a row");
            const int a = in.U8(), b = in.U8();
            if (a != 0) {
              put(a, b);
            } else {
              if (b == 0 || p + static_cast<size_t>(b) > rowEnd)
                throw std::runtime_error("bad run of transparent pixels");
              for (int k = 0; k < b; ++k)
                put(0, 0);
            }
          }
        }
      } else if (c.Mode == 'X') {
        while (in.Pos < end) {
          const int code = in.U8();
          if (code >= 0xC1) {
            for (int k = 0; k < code - 0xC0; ++k)
              put(in.U8(), 0);
          } else if (code >= 0x81 && code <= 0xBF) {
            const int value = in.U8();
            for (int k = 0; k < code - 0x80; ++k)
              put(value, 0);
          } else if (code >= 0x01 && code <= 0x7F) {
            for (int k = 0; k < code; ++k)
              put(0, 0);
          } else {
            throw std::runtime_error("code of no pixels");
          }
        }
      } else {
        while (in.Pos < end) {
          const int code = in.U8();
          if ((code & 0x7F) == 0)
            throw std::runtime_error("run of no pixels");
          for (int k = 0; k < (code & 0x7F); ++k)
            put((code & 0x80) ? 1 : 0, 0);
        }
      }
      if (in.Pos != end || p != index.size())
        throw std::runtime_error("data does not cover the crop exactly");
    } else if (w != 0 && h != 0) {
      throw std::runtime_error("a crop without data");
    }
    // The crop's top left pixel lies at the frame centre plus the offsets.
    const size_t frameSize = static_cast<size_t>(frameWidth) * static_cast<size_t>(frameHeight);
    fr.Index.assign(frameSize, 0);
    fr.Depth.assign(frameSize, 0);
    const int x0 = frameWidth / 2 + fr.OffsetX, y0 = frameHeight / 2 + fr.OffsetY;
    if (!index.empty() && (x0 < 0 || y0 < 0 || x0 + w > frameWidth || y0 + h > frameHeight))
      throw std::runtime_error("crop outside the frame");
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const size_t from = static_cast<size_t>(y * w + x);
        const size_t to = static_cast<size_t>((y0 + y) * frameWidth + x0 + x);
        fr.Index[to] = index[from];
        fr.Depth[to] = depth[from];
      }
    c.Frames.push_back(std::move(fr));
  }
  if (in.Left() != 0)
    throw std::runtime_error("bytes after the last frame");
  return c;
}

// The .p16 file: 256 little-endian RGB565 words.
inline std::array<int, 256> DocDecodeP16(const TBytes& bytes) {
  if (bytes.size() != 512)
    throw std::runtime_error("a palette file has 512 bytes");
  TDocReader in(bytes);
  std::array<int, 256> words{};
  for (int& w : words)
    w = in.U16();
  return words;
}

// 8-bit components of an RGB565 word: shifted back, low bits zero.
inline std::array<int, 3> DocExpand565(int word) {
  return {(word >> 11) << 3, ((word >> 5) & 63) << 2, (word & 31) << 3};
}

} // namespace quarvel::test::docs
