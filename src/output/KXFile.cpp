#include "output/KXFile.h"

#include "common/AtomicFile.h"
#include "common/Error.h"
#include "common/Text.h"
#include "output/Palette16.h"

#include <algorithm>
#include <array>

namespace quarvel {

namespace {

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<uint8_t>((v >> (8 * i)) & 0xFF));
}

void Poke32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out[at + static_cast<size_t>(i)] = static_cast<uint8_t>((v >> (8 * i)) & 0xFF);
}

// Literal stretch at `p` looking at `count` bytes: all of them when fewer than four, else
// everything before the first four equal bytes in a row (those are worth a run).
size_t LiteralLength(const uint8_t* p, size_t count) {
  if (count < 4)
    return count;
  for (size_t i = 0; i + 4 <= count; ++i)
    if (p[i] == p[i + 1] && p[i] == p[i + 2] && p[i] == p[i + 3])
      return i;
  return count;
}

// 1 plus the bytes among the `count` looked at (p[0] included) that repeat p[0] in a row.
size_t RunLength(const uint8_t* p, size_t count) {
  size_t r = 1;
  while (r < count && p[r] == p[0])
    ++r;
  return r;
}

} // namespace

TKXBounds FindBounds(const uint8_t* indexPlane, int width, int height) {
  int left = 999999, right = -999999, top = 999999, bottom = -999999;
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = indexPlane + static_cast<size_t>(y) * static_cast<size_t>(width);
    for (int x = 0; x < width; ++x) {
      if (row[x] == 0)
        continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  }
  if (right < left) // nothing visible: the frame is kept whole
    return TKXBounds{0, width - 1, 0, height - 1};
  return TKXBounds{left, right, top, bottom};
}

void EncodeS(const uint8_t* pixels, size_t count, std::vector<uint8_t>& out) {
  bool visible = false;
  unsigned length = 0; // 0 = no run pending
  auto flush = [&] {
    out.push_back(static_cast<uint8_t>(length | (visible ? 0x80u : 0u)));
    length = 0;
  };
  for (size_t i = 0; i < count; ++i) {
    const bool v = pixels[i] != 0;
    if (length == 0) {
      visible = v;
      length = 1;
    } else if (v == visible) {
      ++length;
    } else {
      flush();
      visible = v;
      length = 1;
    }
    if (length == 127)
      flush();
  }
  if (length > 0)
    flush();
}

void EncodeX(const uint8_t* pixels, size_t count, std::vector<uint8_t>& out) {
  size_t pos = 0;
  while (pos < count) {
    // Both look-aheads stop one byte short of the end, so the last byte always gets a
    // code of its own (six equal bytes: a run of 5, then a run of 1). Containers in use
    // are laid out like this; keeping it keeps them byte for byte reproducible.
    size_t literal = LiteralLength(pixels + pos, count - 1 - pos);
    while (literal > 0) {
      const size_t k = std::min<size_t>(literal, 63);
      out.push_back(static_cast<uint8_t>(0xC0 + k));
      out.insert(out.end(), pixels + pos, pixels + pos + k);
      pos += k;
      literal -= k;
    }
    const uint8_t value = pixels[pos];
    size_t run = RunLength(pixels + pos, count - 1 - pos);
    while (run > 0) {
      size_t k;
      if (value == 0) {
        k = std::min<size_t>(run, 127);
        out.push_back(static_cast<uint8_t>(k));
      } else {
        k = std::min<size_t>(run, 63);
        out.push_back(static_cast<uint8_t>(0x80 + k));
        out.push_back(value);
      }
      pos += k;
      run -= k;
    }
  }
}

void EncodeZ(const uint8_t* pixels, const uint8_t* depths, int width, int height,
             std::vector<uint8_t>& out) {
  const size_t table = out.size();
  out.resize(table + 4 * static_cast<size_t>(height));
  const size_t pairs = out.size(); // row offsets count from the first byte after the table
  unsigned pending = 0;            // transparent pixels not yet written
  auto flush = [&] {
    out.push_back(0);
    out.push_back(static_cast<uint8_t>(pending));
    pending = 0;
  };
  for (int y = 0; y < height; ++y) {
    // Runs never cross rows: the engine draws row by row through the table.
    if (y > 0 && pending > 0)
      flush();
    Poke32(out, table + 4 * static_cast<size_t>(y), static_cast<uint32_t>(out.size() - pairs));
    const size_t row = static_cast<size_t>(y) * static_cast<size_t>(width);
    for (int x = 0; x < width; ++x) {
      const uint8_t index = pixels[row + static_cast<size_t>(x)];
      if (index != 0) {
        if (pending > 0)
          flush();
        out.push_back(index);
        out.push_back(depths[row + static_cast<size_t>(x)]);
      } else if (++pending == 255) {
        flush();
      }
    }
  }
  if (pending > 0)
    flush();
}

TKX_File::TKX_File(char mode) : FMode(mode) {}

void TKX_File::SetFrameCount(int count) {
  if (count < 0)
    throw Error("sprite container: negative frame count " + std::to_string(count));
  Frames.resize(Frames.size() + static_cast<size_t>(count));
}

void TKX_File::AddFrame(int index, const uint8_t* indexPlane, const uint8_t* depthPlane) {
  if (index < 0 || static_cast<size_t>(index) >= Frames.size())
    throw Error("sprite container: frame " + std::to_string(index) + " does not exist (" +
                Counted(static_cast<int64_t>(Frames.size()), "frame") + ")");
  // Record sizes are 16-bit; a larger frame could not be described, so refuse it rather
  // than write a container the engine would misread.
  if (FrameWidth <= 0 || FrameHeight <= 0 || FrameWidth > 65535 || FrameHeight > 65535)
    throw Error("sprite container: frames of " + std::to_string(FrameWidth) + " x " +
                std::to_string(FrameHeight) + " pixels cannot be stored");
  const TKXBounds b = FindBounds(indexPlane, FrameWidth, FrameHeight);
  TKXFrame& f = Frames[static_cast<size_t>(index)];
  const int width = b.Right - b.Left + 1;
  const int height = b.Bottom - b.Top + 1;
  f = TKXFrame{};
  f.ExtraSize = 4;
  f.Extra.assign(4, 0);
  f.Width = static_cast<uint16_t>(width);
  f.Height = static_cast<uint16_t>(height);
  f.Pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  f.Depths.resize(f.Pixels.size());
  for (int y = 0; y < height; ++y) {
    const size_t src = static_cast<size_t>(b.Top + y) * static_cast<size_t>(FrameWidth) +
                       static_cast<size_t>(b.Left);
    const size_t dst = static_cast<size_t>(y) * static_cast<size_t>(width);
    std::copy_n(indexPlane + src, width, f.Pixels.begin() + static_cast<std::ptrdiff_t>(dst));
    std::copy_n(depthPlane + src, width, f.Depths.begin() + static_cast<std::ptrdiff_t>(dst));
  }
  f.OffsetX = static_cast<int16_t>(b.Left - FrameWidth / 2);
  f.OffsetY = static_cast<int16_t>(b.Top - FrameHeight / 2);
}

void TKX_File::WriteToStream(std::vector<uint8_t>& stream) {
  if (Frames.size() > 65535)
    throw Error("sprite container: " + std::to_string(Frames.size()) +
                " frames, more than a container can hold (65535)");
  const uint8_t mode = static_cast<uint8_t>(FMode);
  const std::array<uint8_t, 7> header{
      0xFF, 'K', static_cast<uint8_t>(FMode == 'Z' ? '.' : 'X'), mode, 0, 0, mode};
  stream.insert(stream.end(), header.begin(), header.end());
  Put16(stream, static_cast<uint16_t>(Frames.size()));

  std::vector<uint8_t> data;
  for (TKXFrame& f : Frames) {
    const size_t pixels = static_cast<size_t>(f.Width) * f.Height;
    data.clear();
    // Worst case: two bytes per pixel plus the row table; never reallocated while encoding.
    data.reserve(2 * pixels + 4 * static_cast<size_t>(f.Height));
    if (pixels != 0) {
      if (FMode == 'S')
        EncodeS(f.Pixels.data(), pixels, data);
      else if (FMode == 'X')
        EncodeX(f.Pixels.data(), pixels, data);
      else if (FMode == 'Z')
        EncodeZ(f.Pixels.data(), f.Depths.data(), f.Width, f.Height, data);
    }
    f.DataSize = static_cast<uint32_t>(data.size());
    // The offsets go out through the extra bytes; an empty record (ExtraSize 0) has none.
    const std::array<uint8_t, 4> offsets{
        static_cast<uint8_t>(static_cast<uint16_t>(f.OffsetX) & 0xFF),
        static_cast<uint8_t>(static_cast<uint16_t>(f.OffsetX) >> 8),
        static_cast<uint8_t>(static_cast<uint16_t>(f.OffsetY) & 0xFF),
        static_cast<uint8_t>(static_cast<uint16_t>(f.OffsetY) >> 8)};
    f.Extra.resize(f.ExtraSize);
    std::copy_n(offsets.begin(), std::min<size_t>(4, f.Extra.size()), f.Extra.begin());

    Put16(stream, f.ExtraSize);
    stream.insert(stream.end(), f.Extra.begin(), f.Extra.end());
    Put16(stream, f.Width);
    Put16(stream, f.Height);
    Put32(stream, f.DataSize);
    if (f.Width != 0 && f.Height != 0 && f.DataSize != 0)
      stream.insert(stream.end(), data.begin(), data.end());
  }
}

void TKX_File::SaveToFile(const std::string& fileName) {
  std::vector<uint8_t> bytes;
  try {
    WriteToStream(bytes);
  } catch (const Error& e) {
    throw Error(Located(fileName, 0, e.what()));
  }
  WriteFileAtomic(fileName, bytes);
}

std::vector<uint8_t> SheetToKXZ(const TAngleSheet& sheet) {
  const int frames = sheet.FrameCount();
  if (sheet.IndexPlane.size() != sheet.PixelCount() ||
      sheet.DepthPlane.size() != sheet.PixelCount())
    throw Error("sprite container: the sheet's index or depth plane is not " +
                std::to_string(sheet.SheetWidth) + " x " + std::to_string(sheet.Height) + " bytes");
  TKX_File kx('Z');
  kx.FrameWidth = sheet.FrameWidth;
  kx.FrameHeight = sheet.Height;
  kx.SetFrameCount(frames);
  const size_t fw = static_cast<size_t>(sheet.FrameWidth);
  std::vector<uint8_t> index(fw * static_cast<size_t>(sheet.Height));
  std::vector<uint8_t> depth(index.size());
  for (int f = 0; f < frames; ++f) {
    for (int y = 0; y < sheet.Height; ++y) {
      const size_t src = static_cast<size_t>(y) * static_cast<size_t>(sheet.SheetWidth) +
                         static_cast<size_t>(f) * fw;
      const auto dst = static_cast<std::ptrdiff_t>(static_cast<size_t>(y) * fw);
      std::copy_n(sheet.IndexPlane.begin() + static_cast<std::ptrdiff_t>(src), fw,
                  index.begin() + dst);
      std::copy_n(sheet.DepthPlane.begin() + static_cast<std::ptrdiff_t>(src), fw,
                  depth.begin() + dst);
    }
    kx.AddFrame(f, index.data(), depth.data());
  }
  std::vector<uint8_t> bytes;
  kx.WriteToStream(bytes);
  return bytes;
}

std::string Palette16Name(const std::string& containerName) {
  // Only the last path component's extension counts; "out.d/tree" gets ".p16" appended.
  const size_t slash = containerName.find_last_of("/\\");
  const size_t dot = containerName.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return containerName + ".p16";
  return containerName.substr(0, dot) + ".p16";
}

void WriteKXZ(const std::string& fileName, const TAngleSheet& sheet) {
  std::vector<uint8_t> container;
  try {
    container = SheetToKXZ(sheet);
  } catch (const Error& e) {
    throw Error(Located(fileName, 0, e.what()));
  }
  // The container and its palette belong together: both are replaced, or neither is.
  WriteFilesAtomic(
      {{fileName, std::move(container)}, {Palette16Name(fileName), Palette16Bytes(sheet.Palette)}});
}

} // namespace quarvel
