#include "output/Finishing.h"

#include "common/AtomicFile.h"
#include "common/Error.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace quarvel {

namespace {

// The ramp constants are products in 64-bit-mantissa extended precision; `long double`
// is that type on x86. The colour tests hold every value against the known table, so a
// platform whose long double differs would show up there.
std::array<TPaletteEntry, SideRampEntries> BuildSideRamp() {
  std::array<TPaletteEntry, SideRampEntries> ramp{};
  ramp[0] = MakeEntry(32, 96, 32, 0);
  const long double redStep = 31.0L / 3.0L;
  const long double greenStep = 16.0L / 3.0L;
  for (int i = 1; i < SideRampEntries; ++i) {
    const long double li = static_cast<long double>(i);
    ramp[i] = MakeEntry(static_cast<uint8_t>(static_cast<int>(li * redStep)),
                        static_cast<uint8_t>(static_cast<int>(li * greenStep)),
                        static_cast<uint8_t>(i * 4), 0);
  }
  return ramp;
}

std::array<uint8_t, SideRampEntries> BuildGreys() {
  std::array<uint8_t, SideRampEntries> greys{};
  for (int i = 0; i < SideRampEntries; ++i) {
    const TRGBTriple t = EntryToTriple(SideRamp()[i]);
    greys[i] = static_cast<uint8_t>((t.Red + t.Green + t.Blue) / 3);
  }
  return greys;
}

std::array<uint8_t, 256> BuildRampIndex() {
  std::array<uint8_t, 256> index{};
  for (int v = 0; v < 256; ++v) {
    int best = 1;
    int bestGap = std::abs(v - SideRampGrey(1));
    for (int i = 2; i < SideRampEntries; ++i) {
      const int gap = std::abs(v - SideRampGrey(i));
      if (gap < bestGap) {
        best = i;
        bestGap = gap;
      }
    }
    index[v] = static_cast<uint8_t>(best);
  }
  return index;
}

// Colour -> palette index memo for MapToPalette: open addressing over 24-bit keys.
class TIndexMemo {
public:
  TIndexMemo() : Keys(1024, Empty), Values(1024, 0) {}

  // Returns the slot for key; *found tells whether the key is present.
  size_t Find(uint32_t key, bool* found) const {
    const size_t mask = Keys.size() - 1;
    size_t slot = (key * 0x9E3779B1u) >> (32 - Bits) & mask;
    while (Keys[slot] != Empty && Keys[slot] != key)
      slot = (slot + 1) & mask;
    *found = Keys[slot] == key;
    return slot;
  }
  uint8_t Value(size_t slot) const { return Values[slot]; }
  void Insert(size_t slot, uint32_t key, uint8_t value) {
    Keys[slot] = key;
    Values[slot] = value;
    if (++Used * 2 > Keys.size())
      Grow();
  }

private:
  static constexpr uint32_t Empty = 0xFFFFFFFFu;

  void Grow() {
    std::vector<uint32_t> oldKeys(Keys.size() * 2, Empty);
    std::vector<uint8_t> oldValues(Values.size() * 2, 0);
    oldKeys.swap(Keys);
    oldValues.swap(Values);
    ++Bits;
    for (size_t i = 0; i < oldKeys.size(); ++i)
      if (oldKeys[i] != Empty) {
        bool found = false;
        const size_t slot = Find(oldKeys[i], &found);
        Keys[slot] = oldKeys[i];
        Values[slot] = oldValues[i];
      }
  }

  std::vector<uint32_t> Keys;
  std::vector<uint8_t> Values;
  size_t Used = 0;
  int Bits = 10;
};

// The palette scan keeps the first entry with the smallest distance and, among equal
// distances, the strictly closest lightness: that is the smallest (distance, lightness
// gap, index) triple. Packed into one integer per entry, the scan becomes a branch-free
// minimum the compiler can vectorise.
class TPaletteSearch {
public:
  TPaletteSearch(const TPalette& palette, const std::array<uint8_t, 256>& lightness) {
    for (int j = 0; j < 256; ++j) {
      const TRGBTriple e = EntryToTriple(palette[j]);
      Red[j] = e.Red;
      Green[j] = e.Green;
      Blue[j] = e.Blue;
      Light[j] = lightness[j];
    }
  }

  uint8_t Nearest(TRGBTriple t) const {
    const int32_t r = t.Red, g = t.Green, b = t.Blue, l = TripleLightness(t);
    int32_t best = INT32_MAX;
    for (int32_t j = 0; j < 256; ++j) {
      const int32_t distance =
          std::abs(r - Red[j]) + std::abs(g - Green[j]) + std::abs(b - Blue[j]);
      const int32_t key = (distance << 16) | (std::abs(l - Light[j]) << 8) | j;
      best = std::min(best, key);
    }
    return static_cast<uint8_t>(best & 0xFF);
  }

private:
  alignas(32) int32_t Red[256];
  alignas(32) int32_t Green[256];
  alignas(32) int32_t Blue[256];
  alignas(32) int32_t Light[256];
};

void CheckPlane(const std::vector<uint8_t>& plane, size_t bytes, const char* name) {
  if (plane.size() < bytes)
    throw Error(std::string("angle sheet: ") + name + " plane smaller than the sheet");
}

void PutInt32(std::vector<uint8_t>& out, size_t at, int32_t value) {
  const auto u = static_cast<uint32_t>(value);
  for (int k = 0; k < 4; ++k)
    out[at + k] = static_cast<uint8_t>(u >> (8 * k));
}

} // namespace

const std::array<TPaletteEntry, SideRampEntries>& SideRamp() {
  static const std::array<TPaletteEntry, SideRampEntries> ramp = BuildSideRamp();
  return ramp;
}

uint8_t SideRampGrey(int i) {
  static const std::array<uint8_t, SideRampEntries> greys = BuildGreys();
  return greys[static_cast<size_t>(i)];
}

uint8_t NearestPaletteIndex(const TPalette& palette, const std::array<uint8_t, 256>& lightness,
                            TRGBTriple t) {
  return TPaletteSearch(palette, lightness).Nearest(t);
}

void MapToPalette(TAngleSheet& sheet) {
  const size_t count = sheet.PixelCount();
  CheckPlane(sheet.ColourPlane, count * 3, "colour");
  std::array<uint8_t, 256> lightness{};
  for (int j = 0; j < 256; ++j)
    lightness[j] = EntryLightness(sheet.Palette[j]);
  const TPaletteSearch search(sheet.Palette, lightness);

  sheet.IndexPlane.assign(count, 0);
  const uint8_t* colour = sheet.ColourPlane.data();
  uint8_t* index = sheet.IndexPlane.data();
  TIndexMemo memo;
  // Runs of one colour are common (background, flat faces): reuse the last answer.
  uint32_t lastKey = 0xFFFFFFFFu;
  uint8_t lastIndex = 0;
  for (size_t i = 0; i < count; ++i) {
    const TRGBTriple t{colour[3 * i], colour[3 * i + 1], colour[3 * i + 2]};
    const uint32_t key = static_cast<uint32_t>(t.Blue) | (static_cast<uint32_t>(t.Green) << 8) |
                         (static_cast<uint32_t>(t.Red) << 16);
    if (key != lastKey) {
      bool found = false;
      const size_t slot = memo.Find(key, &found);
      if (found) {
        lastIndex = memo.Value(slot);
      } else {
        lastIndex = search.Nearest(t);
        memo.Insert(slot, key, lastIndex);
      }
      lastKey = key;
    }
    index[i] = lastIndex;
  }
}

uint8_t NearestRampIndex(uint8_t v) {
  static const std::array<uint8_t, 256> table = BuildRampIndex();
  return table[v];
}

void ApplySideRamp(TAngleSheet& sheet) {
  const size_t count = sheet.PixelCount();
  CheckPlane(sheet.DepthPlane, count, "depth");
  CheckPlane(sheet.SidePlane, count, "side");
  CheckPlane(sheet.IndexPlane, count, "index");
  for (size_t i = 0; i < count; ++i)
    if (sheet.DepthPlane[i] != 0 && sheet.SidePlane[i] != 0)
      sheet.IndexPlane[i] = NearestRampIndex(sheet.SidePlane[i]);
}

void FinishSheet(TAngleSheet& sheet) {
  MapToPalette(sheet);
  for (int i = 0; i < SideRampEntries; ++i)
    sheet.Palette[i] = SideRamp()[i];
  ApplySideRamp(sheet);
  for (int i = 1; i < SideRampEntries; ++i)
    SnapEntry(sheet.Palette[i]);
}

std::vector<uint8_t> Make2P5D(const TAngleSheet& sheet) {
  const size_t count = sheet.PixelCount();
  CheckPlane(sheet.DepthPlane, count, "depth");
  CheckPlane(sheet.IndexPlane, count, "index");
  std::vector<uint8_t> out(12 + 2 * count + 1024);
  PutInt32(out, 0, sheet.SheetWidth);
  PutInt32(out, 4, sheet.Height);
  PutInt32(out, 8, sheet.FrameWidth);
  std::copy(sheet.DepthPlane.begin(), sheet.DepthPlane.begin() + static_cast<ptrdiff_t>(count),
            out.begin() + 12);
  std::copy(sheet.IndexPlane.begin(), sheet.IndexPlane.begin() + static_cast<ptrdiff_t>(count),
            out.begin() + 12 + static_cast<ptrdiff_t>(count));
  const size_t palette = 12 + 2 * count;
  for (size_t j = 0; j < 256; ++j)
    PutInt32(out, palette + 4 * j, static_cast<int32_t>(sheet.Palette[j]));
  return out;
}

void Write2P5D(const std::string& fileName, const TAngleSheet& sheet) {
  WriteFileAtomic(fileName, Make2P5D(sheet));
}

std::string SheetFileName(const std::string& settingsName, int angleIndex,
                          const std::string& extension) {
  return settingsName + "_" + std::to_string(angleIndex) + "." + extension;
}

} // namespace quarvel
