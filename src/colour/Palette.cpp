#include "colour/Palette.h"

#include "colour/Quantizer.h"
#include "common/Error.h"

#include <climits>
#include <utility>

namespace quarvel {

namespace {

constexpr std::array<TRGBTriple, ReservedEntries> BuildReserved() {
  std::array<TRGBTriple, ReservedEntries> reserved{};
  reserved[0] = BackgroundKey;
  for (int i = 1; i < ReservedEntries; ++i)
    reserved[i] = MakeTriple(0, static_cast<uint8_t>(5 * i), static_cast<uint8_t>((29 * i) % 256));
  return reserved;
}

constexpr std::array<TRGBTriple, ReservedEntries> Reserved = BuildReserved();

uint32_t Key24(TRGBTriple c) {
  return static_cast<uint32_t>(c.Blue) | (static_cast<uint32_t>(c.Green) << 8) |
         (static_cast<uint32_t>(c.Red) << 16);
}

const TPaletteEntry UnusedEntry = TripleToEntry(BackgroundKey, 255);
const TPaletteEntry ReservedEntry = TripleToEntry(BackgroundKey, 0);

} // namespace

const std::array<TRGBTriple, ReservedEntries>& ReservedColours() {
  return Reserved;
}

namespace {

// A bit per possible colour (2 MiB) answers "seen before?" with one memory access, which
// beats hashing on sheets of hundreds of thousands of pixels. The bits live as long as
// the thread and a list clears exactly the bits it set when it ends, so a sheet pays
// neither for allocating nor for zeroing the whole table. A second list alive on the
// same thread at the same time gets a table of its own.
constexpr size_t SeenWords = (size_t{1} << 24) / 64;
thread_local std::vector<uint64_t> ThreadSeen;
thread_local bool ThreadSeenBusy = false;

} // namespace

TUniqueColourList::TUniqueColourList() : Seen(nullptr), Shared(!ThreadSeenBusy) {
  if (Shared) {
    ThreadSeenBusy = true;
    if (ThreadSeen.empty())
      ThreadSeen.assign(SeenWords, 0);
    Seen = &ThreadSeen;
  } else {
    Own.assign(SeenWords, 0);
    Seen = &Own;
  }
  List.reserve(1000);
  for (const TRGBTriple& c : Reserved)
    AddUniqueColour(c);
}

TUniqueColourList::~TUniqueColourList() {
  if (!Shared)
    return;
  for (const TRGBTriple& c : List)
    (*Seen)[Key24(c) >> 6] = 0;
  ThreadSeenBusy = false;
}

TRGBTripleArray TUniqueColourList::TakeColours() {
  TRGBTripleArray taken;
  taken.swap(List);
  if (Shared)
    for (const TRGBTriple& c : taken)
      (*Seen)[Key24(c) >> 6] = 0;
  return taken;
}

void TUniqueColourList::AddUniqueColour(TRGBTriple colour) {
  const uint32_t key = Key24(colour);
  uint64_t& word = (*Seen)[key >> 6];
  const uint64_t bit = uint64_t{1} << (key & 63);
  if (word & bit)
    return;
  word |= bit;
  List.push_back(colour);
}

TRGBTripleArray DistinctColours(const TAngleSheet& sheet) {
  TUniqueColourList list;
  const size_t count = sheet.PixelCount();
  if (sheet.ColourPlane.size() < count * 3)
    throw Error("angle sheet: colour plane smaller than " + std::to_string(sheet.SheetWidth) +
                " x " + std::to_string(sheet.Height) + " pixels");
  const uint8_t* plane = sheet.ColourPlane.data();
  // Neighbouring pixels mostly repeat; skipping a repeat avoids the table access.
  TRGBTriple previous = BackgroundKey;
  for (size_t i = 0; i < count; ++i) {
    const TRGBTriple c{plane[3 * i], plane[3 * i + 1], plane[3 * i + 2]};
    if (c == previous)
      continue;
    previous = c;
    list.AddUniqueColour(c);
  }
  return list.TakeColours();
}

TPalette QuantizeToPalette(const TRGBTriple* pixels, size_t count) {
  TColorQuantizer quantizer(PaletteColourLimit, 8);
  // Wider than the quantizer accepts stays too wide, so its assertion reports it.
  const size_t width = count < size_t{INT32_MAX} ? count : size_t{INT32_MAX};
  quantizer.AddImage(pixels, static_cast<int32_t>(width), count == 0 ? 0 : 1);
  TPalette palette;
  palette.fill(UnusedEntry);
  const std::vector<TPaletteEntry> colours = quantizer.ExtractPalette();
  for (size_t k = 0; k < colours.size(); ++k)
    palette[ReservedEntries + k] = colours[k];
  return palette;
}

void MakeSheetPalette(TAngleSheet& sheet) {
  TRGBTripleArray image = DistinctColours(sheet);
  image.erase(image.begin(), image.begin() + ReservedEntries);
  for (TRGBTriple& c : image)
    SnapTriple(c);
  sheet.Palette = QuantizeToPalette(image);
  for (int i = 0; i < ReservedEntries; ++i)
    sheet.Palette[i] = ReservedEntry;
}

void MakeSharedPalette(std::vector<TAngleSheet>& sheets) {
  if (sheets.empty())
    return;
  TRGBTripleArray gathered;
  for (const TAngleSheet& sheet : sheets)
    for (int i = ReservedEntries; i < 256; ++i) {
      const TRGBTriple c = EntryToTriple(sheet.Palette[i]);
      if (c != BackgroundKey)
        gathered.push_back(c);
    }
  sheets[0].Palette = QuantizeToPalette(gathered);
  for (TAngleSheet& sheet : sheets)
    sheet.Palette = sheets[0].Palette;
}

void BuildSheetPalettes(std::vector<TAngleSheet>& sheets, bool singleOutput,
                        const TPaletteProgress& progress) {
  const size_t count = sheets.size();
  for (size_t a = 0; a < count; ++a) {
    MakeSheetPalette(sheets[a]);
    if (progress)
      progress(static_cast<int32_t>(static_cast<double>(a) / static_cast<double>(count) * 100.0),
               "Making 8 Bit Palette");
  }
  if (singleOutput)
    MakeSharedPalette(sheets);
}

} // namespace quarvel
