// libFuzzer target: arbitrary bytes read as an MTL file (see models/FuzzEntry.h).
#include "models/FuzzEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return quarvel::FuzzMTLText(data, size);
}
