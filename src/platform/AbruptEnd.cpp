#include "platform/AbruptEnd.h"

#include "platform/Platform.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

namespace quarvel::platform {

namespace {

// One slot a file. A slot's name is written only while its state is Writing, which the
// handler skips; its buffer is kept for the next name, so a handler never reads freed
// memory.
constexpr int MaxRemovals = 4096;
enum TSlotState : int { Free, Writing, Live };
struct TRemoval {
  std::atomic<int> State{Free};
  char* Name = nullptr;
  size_t Capacity = 0;
};
TRemoval removals[MaxRemovals];

} // namespace

void abrupt_end::RemoveRegistered(void (*remove)(const char* name)) noexcept {
  for (TRemoval& r : removals)
    if (r.State.load() == Live)
      remove(r.Name);
}

int RemoveOnAbruptEnd(const std::string& path) {
  for (int i = 0; i < MaxRemovals; ++i) {
    TRemoval& r = removals[i];
    int expected = Free;
    if (!r.State.compare_exchange_strong(expected, Writing))
      continue;
    if (r.Capacity < path.size() + 1) {
      std::free(r.Name);
      r.Capacity = std::max<size_t>(path.size() + 1, 256);
      r.Name = static_cast<char*>(std::malloc(r.Capacity));
      if (!r.Name) {
        r.Capacity = 0;
        r.State.store(Free);
        return -1;
      }
    }
    std::memcpy(r.Name, path.c_str(), path.size() + 1);
    r.State.store(Live);
    return i;
  }
  return -1;
}

void KeepOnAbruptEnd(int handle) {
  if (handle >= 0 && handle < MaxRemovals)
    removals[handle].State.store(Free);
}

} // namespace quarvel::platform
