#include "common/Interrupt.h"

#include <atomic>

namespace quarvel {

namespace {

// Lock-free atomics are the only shared state a signal handler may touch besides
// volatile sig_atomic_t; this one also orders the request with the work that reads it.
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> pendingSignal{0};

} // namespace

void RequestInterrupt(int signal) noexcept {
  int none = 0;
  pendingSignal.compare_exchange_strong(none, signal);
}

int InterruptSignal() noexcept {
  return pendingSignal.load();
}

void ThrowIfInterrupted() {
  if (const int signal = pendingSignal.load())
    throw Interrupted(signal);
}

void ClearInterrupt() noexcept {
  pendingSignal.store(0);
}

} // namespace quarvel
