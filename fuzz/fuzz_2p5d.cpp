// libFuzzer target: arbitrary bytes read as a raw 2P5D sheet (see harness/FuzzReaders.h).
#include "harness/FuzzReaders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)quarvel::Fuzz2P5DBytes(data, size);
  return 0;
}
