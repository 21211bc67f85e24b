// The ".p16" palette file beside each sprite container: the sheet's 256 palette entries as
// RGB565 words (red bits 11-15, green 5-10, blue 0-4, each component truncated),
// little-endian, 512 bytes, no header. The engine works in RGB565 only.
#pragma once

#include "colour/Colour.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quarvel {

// The 512 bytes of a ".p16" file for 256 triples in palette order.
std::vector<uint8_t> Palette16Bytes(const std::array<TRGBTriple, 256>& triples);
// The same for a sheet's 32-bit palette entries; their extra bytes never reach the file.
std::vector<uint8_t> Palette16Bytes(const std::array<TPaletteEntry, 256>& entries);

// Writes the file through a temporary file renamed over `fileName` (missing folders are
// created). Throws quarvel::Error naming the file when it cannot be written.
void WritePalette16(const std::string& fileName, const std::array<TRGBTriple, 256>& triples);

} // namespace quarvel
