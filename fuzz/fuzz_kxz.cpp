// libFuzzer target: arbitrary bytes read as a sprite container (see harness/FuzzReaders.h).
#include "harness/FuzzReaders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)quarvel::FuzzKXZBytes(data, size);
  return 0;
}
