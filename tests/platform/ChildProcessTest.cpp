// Child processes: this test program started again, its output read, its end learnt.
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <thread>

namespace quarvel::platform {
namespace {

// What the children run: each a test of its own, disabled so that only a child runs it.
TEST(DISABLED_Child, Passes) {
  std::cout << "child passes" << std::endl;
}
TEST(DISABLED_Child, ExitsWithThree) {
  std::cout << "child exits" << std::endl;
  std::exit(3);
}
TEST(DISABLED_Child, WaitsToBeStopped) {
  std::cout << "child waits" << std::endl;
  for (;;)
    std::this_thread::sleep_for(std::chrono::seconds(1));
}

// Two stop requests: the first is recorded, the second ends the child at once, having
// removed the file still registered and left the one taken back.
std::atomic<int> childRequest{0};
TEST(DISABLED_Child, EndsOnASecondRequest) {
  InstallStopHandlers(true, {[](int signal) noexcept { childRequest.store(signal); },
                             []() noexcept { return childRequest.load(); }});
  const std::string folder = TemporaryFolder() + "/";
  std::string removed = folder + "quarvel-removed-XXXXXX", kept = folder + "quarvel-kept-XXXXXX";
  Close(MakeTemporary(removed));
  Close(MakeTemporary(kept));
  RemoveOnAbruptEnd(removed);
  KeepOnAbruptEnd(RemoveOnAbruptEnd(kept));
  std::cout << "child made " << removed << " " << kept << std::endl;
  std::raise(SignalInterrupt);
  std::raise(SignalTerminate);
  std::cout << "child not ended" << std::endl;
}

TEST(ChildProcess, RunsThisProgramAndTellsHowItEnded) {
  struct TCase {
    const char* Test;
    const char* Says;
    int Kill; // sent once the child has said it; 0 = none
    bool Signalled;
    int Code;
  };
  const TCase cases[] = {
      {"Passes", "child passes", 0, false, 0},
      {"ExitsWithThree", "child exits", 0, false, 3},
      {"WaitsToBeStopped", "child waits", SignalTerminate, true, SignalTerminate},
      {"EndsOnASecondRequest", "child made", 0, true, SignalTerminate},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Test);
    std::optional<TChild> child =
        SpawnSelf({"test_platform", std::string("--gtest_filter=DISABLED_Child.") + c.Test,
                   "--gtest_also_run_disabled_tests"});
    ASSERT_TRUE(child.has_value()) << ErrorText(LastError());
    std::string output;
    bool killed = false;
    for (;;) {
      std::vector<bool> ready;
      ASSERT_EQ(WaitForOutput({*child}, ready), 0) << ErrorText(LastError());
      ASSERT_EQ(ready.size(), 1u);
      if (!ready[0])
        continue;
      char buffer[256];
      const int64_t n = ReadOutput(*child, buffer, sizeof buffer);
      if (n <= 0)
        break;
      output.append(buffer, static_cast<size_t>(n));
      if (c.Kill != 0 && !killed && output.find(c.Says) != std::string::npos) {
        EXPECT_EQ(Kill(*child, c.Kill), 0);
        killed = true;
      }
    }
    const TChildEnd end = WaitForEnd(*child);
    EXPECT_NE(output.find(c.Says), std::string::npos) << output;
    EXPECT_EQ(end.Signalled, c.Signalled);
    EXPECT_EQ(end.Code, c.Code);
    EXPECT_EQ(child->Output, NoFile);
    std::istringstream made(output.substr(std::min(output.find("child made "), output.size())));
    std::string word, removed, kept;
    if (made >> word >> word >> removed >> kept) {
      EXPECT_FALSE(StatusOf(removed)) << removed;
      EXPECT_TRUE(StatusOf(kept)) << kept;
      Remove(kept);
    }
  }
}

} // namespace
} // namespace quarvel::platform
