// Isolated runs: every way a run in the worker can end, as the caller is told of it, and
// the worker kept or made again after it.
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace quarvel::platform {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool Sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif
#else
constexpr bool Sanitized = false;
#endif

[[noreturn]] void Hang() {
  for (;;)
    std::this_thread::sleep_for(std::chrono::seconds(1));
}

// Runs of the function in this worker so far (0 in the caller, which never runs it).
int RunsInWorker = 0;

// An address nothing is mapped at, which the compiler cannot see is one.
volatile intptr_t Nowhere = 0;

struct TCase {
  const char* What;
  std::function<TIsolatedAnswer()> Run;
  bool Stop; // the stop check says yes from the start
  TIsolatedEnd End;
  std::string Bytes;
  std::string Text;
};

// The cases run in order through one worker, the request naming the case. They are the
// registered function's (on Windows the worker is this program started again, which
// finds them by the function's name), so they live here rather than in the test.
const std::vector<TCase> Cases = {
    {"done",
     [] {
       return TIsolatedAnswer{false, std::string("scene\0bytes", 11)};
     },
     false, TIsolatedEnd::Done, std::string("scene\0bytes", 11), ""},
    {"a second run reuses the worker",
     [] {
       return TIsolatedAnswer{false, std::to_string(RunsInWorker)};
     },
     false, TIsolatedEnd::Done, "2", ""},
    {"refused",
     [] {
       return TIsolatedAnswer{true, "t.gltf: no"};
     },
     false, TIsolatedEnd::Refused, "t.gltf: no", ""},
    {"other exception", []() -> TIsolatedAnswer { throw std::runtime_error("not said"); }, false,
     TIsolatedEnd::Refused, "", ""},
    {"crash", []() -> TIsolatedAnswer { std::abort(); }, false, TIsolatedEnd::Crashed, "",
     "Aborted"},
    {"a run after a crash has a fresh worker",
     [] {
       return TIsolatedAnswer{false, std::to_string(RunsInWorker)};
     },
     false, TIsolatedEnd::Done, "1", ""},
    {"bad address",
     []() -> TIsolatedAnswer {
       *reinterpret_cast<volatile int*>(Nowhere) = 1;
       return {false, ""};
     },
     false, TIsolatedEnd::Crashed, "", "Segmentation fault"},
    {"hang", []() -> TIsolatedAnswer { Hang(); }, false, TIsolatedEnd::TimedOut, "", ""},
    {"out of memory",
     []() -> TIsolatedAnswer {
       // Past the limit below: refused by the system, not by the function (or, under
       // Wine, which keeps no Job Object's limit, seen past it by the caller: so the
       // memory is taken a piece at a time, each used, up to eight times the limit).
       std::vector<std::vector<char>> pieces;
       for (int i = 0; i < 64; ++i)
         pieces.emplace_back(size_t{64} << 20, 'x');
       return {false, std::string(1, pieces.back().back())};
     },
     false, TIsolatedEnd::OutOfMemory, "", ""},
    {"interrupt", []() -> TIsolatedAnswer { Hang(); }, true, TIsolatedEnd::Interrupted, "", ""},
    {"too large",
     [] {
       return TIsolatedAnswer{false, std::string(5000, 'x')};
     },
     false, TIsolatedEnd::TooLarge, "", ""},
};

[[maybe_unused]] const bool Registered =
    RegisterIsolatedFunction("isolation-test", [](const std::string& request) {
      ++RunsInWorker;
      return Cases[std::stoul(request)].Run();
    });

TEST(Isolation, TheOutcomeSaysHowTheRunEnded) {
  const std::vector<TCase>& cases = Cases;
  TIsolatedWorker worker("isolation-test");
  for (size_t i = 0; i < cases.size(); ++i) {
    const TCase& c = cases[i];
    SCOPED_TRACE(c.What);
    if (Sanitized && c.End == TIsolatedEnd::OutOfMemory)
      continue; // sanitizer builds have no memory limit
    TIsolationLimits limits;
    // Out of memory: a run that ends long before its time limit, whatever the machine's
    // speed at taking memory.
    limits.Seconds = c.End == TIsolatedEnd::OutOfMemory ? 120 : 0.5;
    limits.MemoryBytes = uint64_t{512} << 20;
    limits.MaxAnswerBytes = 4096;
    const bool stop = c.Stop;
    const TIsolatedOutcome outcome =
        worker.Run(std::to_string(i), 0, limits, [stop] { return stop; });
    // AddressSanitizer catches a bad address itself, reports it and ends the worker with
    // its own status: an end of another kind, with nothing to name.
    const bool caught = Sanitized && c.Text == "Segmentation fault";
    EXPECT_EQ(outcome.End, caught ? TIsolatedEnd::Other : c.End);
    EXPECT_EQ(outcome.Bytes, c.Bytes);
    EXPECT_EQ(outcome.Text, caught ? "" : c.Text);
  }
}

} // namespace
} // namespace quarvel::platform
