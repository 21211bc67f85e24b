// libFuzzer target: arbitrary bytes read as a .p16 palette (see harness/FuzzReaders.h).
#include "harness/FuzzReaders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)quarvel::FuzzPalette16Bytes(data, size);
  return 0;
}
