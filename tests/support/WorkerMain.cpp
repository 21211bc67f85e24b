// The main of the test programs: gtest's, after the hook that makes the program an
// isolated worker when it is started as one (on Windows, where workers are not forked but
// started anew).
#include "platform/Platform.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  quarvel::platform::ServeIfIsolatedWorker();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
