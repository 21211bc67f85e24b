// Entry points of the reader fuzz targets (fuzz/) and of the test that replays their
// corpus (tests/fuzz): the bytes are read as an OBJ or MTL file, line by line, as the
// loader reads them. Conversion errors are the expected outcome of bad input and are
// swallowed; anything else (a crash, a broken invariant, which aborts) is a fault.
// No GL is used.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarvel {

int FuzzOBJText(const uint8_t* data, size_t size);
int FuzzMTLText(const uint8_t* data, size_t size);

} // namespace quarvel
