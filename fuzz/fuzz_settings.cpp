// libFuzzer target: arbitrary bytes split into settings files and loaded as a job (see
// harness/FuzzSettings.h).
#include "harness/FuzzSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)quarvel::FuzzSettingsFiles(data, size);
  return 0;
}
