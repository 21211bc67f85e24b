#include "output/Palette16.h"

#include "common/AtomicFile.h"

namespace quarvel {

std::vector<uint8_t> Palette16Bytes(const std::array<TRGBTriple, 256>& triples) {
  std::vector<uint8_t> bytes;
  bytes.reserve(512);
  for (const TRGBTriple& t : triples) {
    const uint16_t w = TripleToRGB565(t);
    bytes.push_back(static_cast<uint8_t>(w & 0xFF));
    bytes.push_back(static_cast<uint8_t>(w >> 8));
  }
  return bytes;
}

std::vector<uint8_t> Palette16Bytes(const std::array<TPaletteEntry, 256>& entries) {
  std::array<TRGBTriple, 256> triples;
  for (size_t i = 0; i < entries.size(); ++i)
    triples[i] = EntryToTriple(entries[i]);
  return Palette16Bytes(triples);
}

void WritePalette16(const std::string& fileName, const std::array<TRGBTriple, 256>& triples) {
  WriteFileAtomic(fileName, Palette16Bytes(triples));
}

} // namespace quarvel
