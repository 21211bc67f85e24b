#include "colour/Colour.h"

#include <cstdlib>

namespace quarvel {

namespace {

constexpr std::array<TRGBTriple, 65536> BuildTable() {
  std::array<TRGBTriple, 65536> table{};
  for (uint32_t i = 0; i < 65536; ++i)
    table[i] = ColorToTriple(RGB565ToColor(static_cast<uint16_t>(i)));
  return table;
}

constexpr std::array<uint8_t, 65536> BuildLightness() {
  std::array<uint8_t, 65536> lightness{};
  for (uint32_t i = 0; i < 65536; ++i)
    lightness[i] = TripleLightness(ColorToTriple(RGB565ToColor(static_cast<uint16_t>(i))));
  return lightness;
}

// The grid values nearest to one component: one value, or two when the component lies
// exactly halfway between grid values. `step` is 8 (red, blue) or 4 (green); the top
// grid value is 256 - step, and anything above it goes there.
struct TCandidates {
  uint8_t Value[2];
  int Count;
};

TCandidates NearestGridValues(uint8_t v, int step) {
  const int top = 256 - step;
  const int lo = v / step * step;
  if (lo == v)
    return {{v, v}, 1};
  if (lo >= top)
    return {{static_cast<uint8_t>(top), 0}, 1};
  const int hi = lo + step;
  const int below = v - lo, above = hi - v;
  if (below < above)
    return {{static_cast<uint8_t>(lo), 0}, 1};
  if (above < below)
    return {{static_cast<uint8_t>(hi), 0}, 1};
  return {{static_cast<uint8_t>(lo), static_cast<uint8_t>(hi)}, 2};
}

} // namespace

const std::array<TRGBTriple, 65536> RGB565Table = BuildTable();
const std::array<uint8_t, 65536> RGB565Lightness = BuildLightness();

// The table is the full grid of representable colours and the distance is a sum over
// components, so the smallest distance is reached exactly by the combinations of each
// component's nearest grid values. A full scan keeps, among those, the first (lowest
// code) whose lightness is strictly closest; at most eight combinations are compared.
TRGBTriple FindNearestRGB565(TRGBTriple t) {
  const TCandidates reds = NearestGridValues(t.Red, 8);
  const TCandidates greens = NearestGridValues(t.Green, 4);
  const TCandidates blues = NearestGridValues(t.Blue, 8);
  const int target = TripleLightness(t);
  TRGBTriple best{};
  int bestGap = 1 << 30;
  int bestCode = 1 << 30;
  for (int r = 0; r < reds.Count; ++r)
    for (int g = 0; g < greens.Count; ++g)
      for (int b = 0; b < blues.Count; ++b) {
        const TRGBTriple c = MakeTriple(reds.Value[r], greens.Value[g], blues.Value[b]);
        const int gap = std::abs(target - TripleLightness(c));
        const int code = TripleToRGB565(c);
        if (gap < bestGap || (gap == bestGap && code < bestCode)) {
          best = c;
          bestGap = gap;
          bestCode = code;
        }
      }
  return best;
}

void SnapTriple(TRGBTriple& t) {
  if (!IsRepresentable(t))
    t = FindNearestRGB565(t);
}

void SnapEntry(TPaletteEntry& e) {
  TRGBTriple t = EntryToTriple(e);
  SnapTriple(t);
  e = TripleToEntry(t, EntryExtra(e));
}

} // namespace quarvel
