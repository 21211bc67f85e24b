// libFuzzer target: arbitrary bytes read as an OBJ file (see harness/FuzzEntry.h).
#include "harness/FuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return quarvel::FuzzOBJText(data, size);
}
