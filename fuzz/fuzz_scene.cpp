// libFuzzer target: arbitrary bytes read as a scene file (see harness/FuzzScene.h).
#include "harness/FuzzScene.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quarvel::FuzzSceneBytes(data, size);
  return 0;
}
