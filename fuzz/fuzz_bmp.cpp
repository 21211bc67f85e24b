// libFuzzer target: arbitrary bytes decoded as a BMP texture (see harness/FuzzImages.h).
#include "harness/FuzzImages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)quarvel::FuzzBMPBytes(data, size);
  return 0;
}
