// Stopping work when the user asks for it (Ctrl-C, or SIGTERM from a job system).
//
// A signal handler only records the request: RequestInterrupt is async-signal-safe. The
// work notices it at its next progress report, and once more right before finished output
// files would replace the old ones, and unwinds by throwing Interrupted. Work stopped this
// way has written nothing: the previous outputs stay as they were.
#pragma once

#include <exception>

namespace quarvel {

// Deliberately not a quarvel::Error: code that catches errors to add a file name and
// rethrow, or to carry on without an optional file, must let an interrupt pass untouched.
class Interrupted : public std::exception {
public:
  explicit Interrupted(int signal) : Signal(signal) {}
  const char* what() const noexcept override { return "interrupted"; }
  int Signal; // the signal number that asked for it
};

// Records a request to stop; the first request's signal is kept. Safe in a signal handler.
// `signal` must not be 0.
void RequestInterrupt(int signal) noexcept;
// The signal of the pending request; 0 when there is none.
int InterruptSignal() noexcept;
// Throws Interrupted when a request is pending.
void ThrowIfInterrupted();
// Forgets a pending request (for tests, or a program that stopped one task and goes on).
void ClearInterrupt() noexcept;

} // namespace quarvel
