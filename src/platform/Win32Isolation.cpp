// Isolated runs (platform/Platform.h) on Windows, for now in the calling process.
//
// Windows has no fork: a worker there is this program started again, which must find
// the function it is to run by a name it was registered under, then take the requests
// on a pipe, inside a Job Object that holds its memory and kills it with the caller.
// Until that is built the function runs here, on the calling thread: its results are
// the same, but a crash or an endless loop in it is the program's, and neither the time
// nor the memory limit applies (an allocation that fails is still OutOfMemory).
#include "platform/Platform.h"

#include <mutex>
#include <new>

namespace quarvel::platform {

struct TIsolatedWorker::TState {
  TIsolatedFunction Function;
  std::mutex Lock;
};

TIsolatedWorker::TIsolatedWorker(TIsolatedFunction run) : State(std::make_unique<TState>()) {
  State->Function = std::move(run);
}

TIsolatedWorker::~TIsolatedWorker() = default;

TIsolatedOutcome TIsolatedWorker::Run(const std::string& request, uint64_t /*generation*/,
                                      const TIsolationLimits& limits,
                                      const std::function<bool()>& stopRequested) {
  const std::lock_guard<std::mutex> held(State->Lock);
  TIsolatedOutcome outcome;
  if (stopRequested && stopRequested()) {
    outcome.End = TIsolatedEnd::Interrupted;
    return outcome;
  }
  TIsolatedAnswer said;
  try {
    said = State->Function(request);
  } catch (const std::bad_alloc&) {
    outcome.End = TIsolatedEnd::OutOfMemory;
    return outcome;
  } catch (...) {
    said = {true, ""};
  }
  if (said.Bytes.size() > limits.MaxAnswerBytes) {
    outcome.End = TIsolatedEnd::TooLarge;
    return outcome;
  }
  outcome.End = said.Refused ? TIsolatedEnd::Refused : TIsolatedEnd::Done;
  outcome.Bytes = std::move(said.Bytes);
  return outcome;
}

} // namespace quarvel::platform
