// test_platform's main: gtest's, after the hook that makes this program an isolated
// worker when it is started as one (on Windows, where workers are not forked).
#include "platform/Platform.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  quarvel::platform::ServeIfIsolatedWorker();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
