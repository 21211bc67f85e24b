#include "output/Readers.h"

#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/Text.h"

#include <algorithm>

namespace quarvel {

namespace {

// Full-size planes beyond this are refused: a damaged offset can make the inferred frame
// tens of thousands of pixels wide, and decoding must not exhaust memory over it.
constexpr uint64_t MaxPlaneBytes = uint64_t{512} << 20;

std::string Str(uint64_t v) {
  return std::to_string(v);
}

// Bounds-checked little-endian reads; every failure names what was being read.
class TByteReader {
public:
  TByteReader(const uint8_t* data, size_t size, std::string name)
      : FData(data), FSize(size), FName(std::move(name)) {}

  size_t Pos() const { return FPos; }
  size_t Left() const { return FSize - FPos; }

  [[noreturn]] void Fail(const std::string& what) const { throw Error(Located(FName, 0, what)); }

  void Need(size_t n, const std::string& what) const {
    if (n > Left())
      Fail(what + ": needs " + Counted(static_cast<int64_t>(n), "byte") + " at offset " +
           Str(FPos) + ", the file has " + Str(FSize) + " (truncated)");
  }
  uint8_t U8(const std::string& what) {
    Need(1, what);
    return FData[FPos++];
  }
  uint16_t U16(const std::string& what) {
    Need(2, what);
    const uint16_t v = static_cast<uint16_t>(FData[FPos] | (FData[FPos + 1] << 8));
    FPos += 2;
    return v;
  }
  uint32_t U32(const std::string& what) {
    Need(4, what);
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
      v = (v << 8) | FData[FPos + static_cast<size_t>(i)];
    FPos += 4;
    return v;
  }
  const uint8_t* Take(size_t n, const std::string& what) {
    Need(n, what);
    const uint8_t* p = FData + FPos;
    FPos += n;
    return p;
  }

private:
  const uint8_t* FData;
  size_t FSize;
  std::string FName;
  size_t FPos = 0;
};

int16_t S16(const uint8_t* p) {
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

// Decoders of one crop's data into `pixels` (and `depths`), both width * height bytes and
// zero on entry. `fail` throws with the frame named.
template <typename FailFn>
void DecodeS(const uint8_t* d, size_t n, std::vector<uint8_t>& pixels, FailFn fail) {
  size_t pos = 0;
  for (size_t i = 0; i < n; ++i) {
    const size_t run = d[i] & 0x7Fu;
    if (run == 0)
      fail("code " + Str(d[i]) + " at data byte " + Str(i) + " is a run of no pixels");
    if (run > pixels.size() - pos)
      fail("run of " + Str(run) + " pixels at data byte " + Str(i) + " overflows the crop of " +
           Str(pixels.size()) + " pixels (" + Str(pixels.size() - pos) + " left)");
    if (d[i] & 0x80u)
      std::fill_n(pixels.begin() + static_cast<std::ptrdiff_t>(pos), run, MaskIndex);
    pos += run;
  }
  if (pos != pixels.size())
    fail("data ends after " + Str(pos) + " of the crop's " + Str(pixels.size()) + " pixels");
}

template <typename FailFn>
void DecodeX(const uint8_t* d, size_t n, std::vector<uint8_t>& pixels, FailFn fail) {
  size_t pos = 0;
  size_t i = 0;
  while (i < n) {
    const size_t at = i;
    const uint8_t code = d[i++];
    size_t run;
    if (code < 0x80)
      run = code;
    else if (code < 0xC0)
      run = code - 0x80u;
    else
      run = code - 0xC0u;
    if (run == 0)
      fail("code " + Str(code) + " at data byte " + Str(at) + " is a run of no pixels");
    if (run > pixels.size() - pos)
      fail("run of " + Str(run) + " pixels at data byte " + Str(at) + " overflows the crop of " +
           Str(pixels.size()) + " pixels (" + Str(pixels.size() - pos) + " left)");
    const auto dst = pixels.begin() + static_cast<std::ptrdiff_t>(pos);
    if (code >= 0xC0) {
      if (run > n - i)
        fail("literal of " + Str(run) + " bytes at data byte " + Str(at) + " runs past DataSize");
      std::copy_n(d + i, run, dst);
      i += run;
    } else if (code >= 0x80) {
      if (i >= n)
        fail("run at data byte " + Str(at) + " has no index byte before DataSize ends");
      std::fill_n(dst, run, d[i++]);
    }
    pos += run;
  }
  if (pos != pixels.size())
    fail("data ends after " + Str(pos) + " of the crop's " + Str(pixels.size()) + " pixels");
}

template <typename FailFn>
void DecodeZ(const uint8_t* d, size_t n, int width, int height, std::vector<uint8_t>& pixels,
             std::vector<uint8_t>& depths, FailFn fail) {
  const size_t tableBytes = 4 * static_cast<size_t>(height);
  if (n < tableBytes)
    fail("DataSize " + Str(n) + " is smaller than the row table of " + Str(tableBytes) + " bytes");
  const uint8_t* pairs = d + tableBytes;
  const size_t pairBytes = n - tableBytes;
  size_t i = 0;
  for (int y = 0; y < height; ++y) {
    const uint8_t* e = d + 4 * static_cast<size_t>(y);
    const uint32_t entry = static_cast<uint32_t>(e[0] | (e[1] << 8) | (e[2] << 16)) |
                           (static_cast<uint32_t>(e[3]) << 24);
    // Rows follow one another; an entry pointing anywhere else is damage.
    if (entry != i)
      fail("row table entry " + Str(static_cast<uint64_t>(y)) + " is " + Str(entry) +
           ", but the row's pairs begin at " + Str(i));
    const size_t row = static_cast<size_t>(y) * static_cast<size_t>(width);
    size_t x = 0;
    while (x < static_cast<size_t>(width)) {
      if (pairBytes - i < 2)
        fail("data ends in row " + Str(static_cast<uint64_t>(y)) + " after " + Str(x) + " of " +
             Str(static_cast<uint64_t>(width)) + " pixels");
      const uint8_t index = pairs[i];
      const uint8_t value = pairs[i + 1];
      if (index != 0) {
        pixels[row + x] = index;
        depths[row + x] = value;
        ++x;
      } else {
        if (value == 0)
          fail("a run of no pixels in row " + Str(static_cast<uint64_t>(y)));
        if (value > static_cast<size_t>(width) - x)
          fail("run of " + Str(value) + " pixels overflows row " + Str(static_cast<uint64_t>(y)) +
               " (" + Str(static_cast<size_t>(width) - x) + " of " +
               Str(static_cast<uint64_t>(width)) + " pixels left)");
        x += value;
      }
      i += 2;
    }
  }
  if (i != pairBytes)
    fail(Str(pairBytes - i) + " bytes of data after the last row");
}

// The smallest frame extent whose centre (extent div 2) puts [offset, offset + size) of
// every crop inside it.
int64_t InferExtent(int64_t before, int64_t after) {
  // Needs extent div 2 >= before and extent - extent div 2 >= after.
  int64_t extent = std::max<int64_t>({1, 2 * before, 2 * after - 1});
  while (extent / 2 < before || extent - extent / 2 < after)
    ++extent;
  return extent;
}

} // namespace

TKXContents DecodeKXZCrops(const uint8_t* data, size_t size, const std::string& name,
                           int32_t frameWidth, int32_t frameHeight) {
  TByteReader in(data, size, name);
  in.Need(9, "header");
  const uint8_t* h = in.Take(9, "header");
  if (h[0] != 0xFF || h[1] != 'K')
    in.Fail("not a sprite container (it does not begin with FF 'K')");
  const char mode = static_cast<char>(h[3]);
  if (mode != 'S' && mode != 'X' && mode != 'Z')
    in.Fail("unknown compression mode " + Str(h[3]));
  if (h[6] != h[3] || h[4] != 0 || h[5] != 0 || h[2] != (mode == 'Z' ? '.' : 'X'))
    in.Fail(std::string("damaged header for mode '") + mode + "'");
  const unsigned count = static_cast<unsigned>(h[7] | (h[8] << 8));

  TKXContents out;
  out.Mode = mode;
  out.Frames.reserve(std::min<size_t>(count, in.Left() / 10 + 1));
  for (unsigned f = 0; f < count; ++f) {
    const std::string frame = "frame " + Str(f) + " of " + Str(count);
    auto fail = [&](const std::string& what) { in.Fail(frame + ": " + what); };
    TKXReadFrame r;
    r.ExtraSize = in.U16(frame + ": ExtraSize");
    const uint8_t* extra = in.Take(r.ExtraSize, frame + ": extra bytes");
    r.Extra.assign(extra, extra + r.ExtraSize);
    if (r.ExtraSize >= 4) {
      r.OffsetX = S16(extra);
      r.OffsetY = S16(extra + 2);
    }
    r.Width = in.U16(frame + ": Width");
    r.Height = in.U16(frame + ": Height");
    r.DataSize = in.U32(frame + ": DataSize");
    const size_t pixels = static_cast<size_t>(r.Width) * r.Height;
    if (r.Width != 0 && r.Height != 0 && r.DataSize != 0) {
      if (r.DataSize > in.Left())
        fail("DataSize " + Str(r.DataSize) + " runs past the end of the file (" + Str(in.Left()) +
             " bytes left)");
      const uint8_t* d = in.Take(r.DataSize, frame + ": data");
      if (r.ExtraSize < 4)
        fail("a " + Str(r.Width) + " x " + Str(r.Height) + " crop without offsets (ExtraSize " +
             Str(r.ExtraSize) + ")");
      // No code covers more than 255 pixels per byte; checking that first bounds what a
      // damaged size can make us allocate.
      if (pixels / 255 > r.DataSize)
        fail("DataSize " + Str(r.DataSize) + " is too small for a " + Str(r.Width) + " x " +
             Str(r.Height) + " crop");
      r.Pixels.assign(pixels, 0);
      r.Depths.assign(pixels, 0);
      if (mode == 'S')
        DecodeS(d, r.DataSize, r.Pixels, fail);
      else if (mode == 'X')
        DecodeX(d, r.DataSize, r.Pixels, fail);
      else
        DecodeZ(d, r.DataSize, r.Width, r.Height, r.Pixels, r.Depths, fail);
    } else if (pixels != 0) {
      fail("a " + Str(r.Width) + " x " + Str(r.Height) + " crop with no data");
    }
    out.Frames.push_back(std::move(r));
  }
  if (in.Left() != 0)
    in.Fail(Counted(static_cast<int64_t>(in.Left()), "byte") + " after the last of " +
            Counted(static_cast<int64_t>(count), "frame"));

  // The frame size: given, or the smallest that holds every crop around its centre.
  if (frameWidth > 0 && frameHeight > 0) {
    out.FrameWidth = frameWidth;
    out.FrameHeight = frameHeight;
  } else {
    int64_t left = 0, right = 0, top = 0, bottom = 0;
    bool any = false;
    for (const TKXReadFrame& r : out.Frames) {
      if (r.Pixels.empty())
        continue;
      any = true;
      left = std::max<int64_t>(left, -int64_t{r.OffsetX});
      right = std::max<int64_t>(right, int64_t{r.OffsetX} + r.Width);
      top = std::max<int64_t>(top, -int64_t{r.OffsetY});
      bottom = std::max<int64_t>(bottom, int64_t{r.OffsetY} + r.Height);
    }
    if (any) {
      out.FrameWidth = static_cast<int32_t>(InferExtent(left, right));
      out.FrameHeight = static_cast<int32_t>(InferExtent(top, bottom));
    }
  }
  for (size_t f = 0; f < out.Frames.size(); ++f) {
    const TKXReadFrame& r = out.Frames[f];
    const int64_t x0 = r.OffsetX + out.FrameWidth / 2, y0 = r.OffsetY + out.FrameHeight / 2;
    if (!r.Pixels.empty() &&
        (x0 < 0 || y0 < 0 || x0 + r.Width > out.FrameWidth || y0 + r.Height > out.FrameHeight))
      in.Fail("frame " + Str(f) + " of " + Str(count) + ": the " + Str(r.Width) + " x " +
              Str(r.Height) + " crop at (" + std::to_string(r.OffsetX) + ", " +
              std::to_string(r.OffsetY) + ") lies outside the " +
              Str(static_cast<uint64_t>(out.FrameWidth)) + " x " +
              Str(static_cast<uint64_t>(out.FrameHeight)) + " frame");
  }
  return out;
}

TKXContents DecodeKXZ(const uint8_t* data, size_t size, const std::string& name, int32_t frameWidth,
                      int32_t frameHeight) {
  TKXContents out = DecodeKXZCrops(data, size, name, frameWidth, frameHeight);
  const uint64_t planeBytes = 2 * static_cast<uint64_t>(out.FrameWidth) *
                              static_cast<uint64_t>(out.FrameHeight) * out.Frames.size();
  if (planeBytes > MaxPlaneBytes)
    throw Error(Located(name, 0,
                        Counted(static_cast<int64_t>(out.Frames.size()), "frame") + " of " +
                            Str(static_cast<uint64_t>(out.FrameWidth)) + " x " +
                            Str(static_cast<uint64_t>(out.FrameHeight)) +
                            " pixels are too large to decode"));
  const int64_t fw = out.FrameWidth, fh = out.FrameHeight;
  for (TKXReadFrame& r : out.Frames) {
    r.IndexPlane.assign(static_cast<size_t>(fw * fh), 0);
    r.DepthPlane.assign(r.IndexPlane.size(), 0);
    const int64_t x0 = r.OffsetX + fw / 2, y0 = r.OffsetY + fh / 2;
    for (int y = 0; y < r.Height && !r.Pixels.empty(); ++y) {
      const auto src = static_cast<std::ptrdiff_t>(static_cast<size_t>(y) * r.Width);
      const auto dst = static_cast<std::ptrdiff_t>((y0 + y) * fw + x0);
      std::copy_n(r.Pixels.begin() + src, r.Width, r.IndexPlane.begin() + dst);
      std::copy_n(r.Depths.begin() + src, r.Width, r.DepthPlane.begin() + dst);
    }
  }
  return out;
}

std::string ReadSpriteFile(const std::string& fileName) {
  uint64_t fileSize = 0;
  const std::string head = ReadFileHead(fileName, 12, fileSize);
  const auto* h = reinterpret_cast<const uint8_t*>(head.data());
  uint64_t justified = 0;
  if (head.size() >= 9 && h[0] == 0xFF && h[1] == 'K') {
    // Per frame at most a record head (14 bytes) and 65535 extra bytes; all frames' data
    // at most what their planes may take decoded.
    const uint64_t count = h[7] | (h[8] << 8);
    justified = 9 + count * (14 + 65535) + MaxPlaneBytes;
  } else if (head.size() >= 12) {
    auto s32 = [&](size_t at) {
      return static_cast<int32_t>(h[at] | (h[at + 1] << 8) | (h[at + 2] << 16) |
                                  (static_cast<uint32_t>(h[at + 3]) << 24));
    };
    const int64_t width = s32(0), height = s32(4);
    if (width > 0 && height > 0)
      justified = 12 + 2 * static_cast<uint64_t>(width) * static_cast<uint64_t>(height) + 1024;
  }
  const uint64_t cap = std::max<uint64_t>(justified, uint64_t{64} << 10);
  return ReadWholeFile(fileName, cap, "sprite file of this header");
}

TKXContents ReadKXZ(const std::string& fileName, int32_t frameWidth, int32_t frameHeight) {
  const std::string bytes = ReadSpriteFile(fileName);
  return DecodeKXZ(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                   ResolvePath(fileName), frameWidth, frameHeight);
}

TAngleSheet KXZToSheet(const TKXContents& contents) {
  TAngleSheet sheet;
  sheet.FrameWidth = contents.FrameWidth;
  sheet.Height = contents.FrameHeight;
  sheet.SheetWidth =
      static_cast<int32_t>(contents.FrameWidth * static_cast<int64_t>(contents.Frames.size()));
  sheet.IndexPlane.assign(sheet.PixelCount(), 0);
  sheet.DepthPlane.assign(sheet.PixelCount(), 0);
  // From the crops, which the decoder has checked to lie inside the frame: the same
  // picture as the frames' planes, without needing them.
  const int64_t fw = contents.FrameWidth, fh = contents.FrameHeight;
  for (size_t f = 0; f < contents.Frames.size(); ++f) {
    const TKXReadFrame& r = contents.Frames[f];
    const int64_t x0 = static_cast<int64_t>(f) * fw + r.OffsetX + fw / 2, y0 = r.OffsetY + fh / 2;
    for (int y = 0; y < r.Height && !r.Pixels.empty(); ++y) {
      const auto src = static_cast<std::ptrdiff_t>(static_cast<size_t>(y) * r.Width);
      const auto dst = static_cast<std::ptrdiff_t>((y0 + y) * sheet.SheetWidth + x0);
      std::copy_n(r.Pixels.begin() + src, r.Width, sheet.IndexPlane.begin() + dst);
      std::copy_n(r.Depths.begin() + src, r.Width, sheet.DepthPlane.begin() + dst);
    }
  }
  return sheet;
}

std::array<uint16_t, 256> DecodePalette16(const uint8_t* data, size_t size,
                                          const std::string& name) {
  if (size != 512)
    throw Error(Located(
        name, 0, "is " + Str(size) + " bytes long; a palette file has 512 (256 RGB565 words)"));
  std::array<uint16_t, 256> words{};
  for (size_t i = 0; i < words.size(); ++i)
    words[i] = static_cast<uint16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  return words;
}

std::array<uint16_t, 256> ReadPalette16(const std::string& fileName) {
  // 512 bytes exactly; a little more is read so that the decoder says what is wrong.
  const std::string bytes = ReadWholeFile(fileName, uint64_t{64} << 10, "palette file");
  return DecodePalette16(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                         ResolvePath(fileName));
}

std::array<TPaletteEntry, 256> Palette16ToEntries(const std::array<uint16_t, 256>& words) {
  std::array<TPaletteEntry, 256> entries{};
  for (size_t i = 0; i < words.size(); ++i)
    entries[i] = TripleToEntry(ColorToTriple(RGB565ToColor(words[i])), 0);
  return entries;
}

TAngleSheet Decode2P5D(const uint8_t* data, size_t size, const std::string& name) {
  TByteReader in(data, size, name);
  in.Need(12, "header");
  auto s32 = [&](const char* what) { return static_cast<int32_t>(in.U32(what)); };
  TAngleSheet sheet;
  sheet.SheetWidth = s32("SheetWidth");
  sheet.Height = s32("Height");
  sheet.FrameWidth = s32("FrameWidth");
  const std::string sizes = std::to_string(sheet.SheetWidth) + " x " +
                            std::to_string(sheet.Height) + ", frame width " +
                            std::to_string(sheet.FrameWidth);
  if (sheet.SheetWidth < 0 || sheet.Height < 0 || sheet.FrameWidth <= 0)
    in.Fail("impossible sheet size " + sizes);
  if (sheet.SheetWidth % sheet.FrameWidth != 0)
    in.Fail("sheet width " + std::to_string(sheet.SheetWidth) +
            " is not a whole number of frames of width " + std::to_string(sheet.FrameWidth));
  const uint64_t plane =
      static_cast<uint64_t>(sheet.SheetWidth) * static_cast<uint64_t>(sheet.Height);
  const uint64_t expected = 12 + 2 * plane + 1024;
  if (expected != size)
    in.Fail("is " + Str(size) + " bytes long; a sheet of " + sizes + " needs " + Str(expected));
  const uint8_t* depth = in.Take(static_cast<size_t>(plane), "depth plane");
  sheet.DepthPlane.assign(depth, depth + plane);
  const uint8_t* index = in.Take(static_cast<size_t>(plane), "index plane");
  sheet.IndexPlane.assign(index, index + plane);
  for (TPaletteEntry& e : sheet.Palette)
    e = in.U32("palette");
  return sheet;
}

TAngleSheet Read2P5D(const std::string& fileName) {
  const std::string bytes = ReadSpriteFile(fileName);
  return Decode2P5D(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                    ResolvePath(fileName));
}

} // namespace quarvel
