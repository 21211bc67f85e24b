#include "common/OutputLock.h"

#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/Interrupt.h"
#include "common/Path.h"
#include "platform/Platform.h"

#include <chrono>
#include <filesystem>

namespace fs = std::filesystem;

namespace quarvel {

std::string OutputLockFileName(const std::string& stem) {
  // The stem's folder part as written: the name keeps its separators on every system.
  const std::string file = Utf8Of(PathOf(stem).filename());
  return stem.substr(0, stem.size() - file.size()) + "." + file + ".lock";
}

TOutputLock::TOutputLock(std::string lockFile, const std::string& setName, bool wait,
                         int limitSeconds)
    : File(std::move(lockFile)) {
  const auto start = std::chrono::steady_clock::now();
  auto timeIsUp = [&] {
    return limitSeconds > 0 &&
           std::chrono::steady_clock::now() - start >= std::chrono::seconds(limitSeconds);
  };
  auto fail = [&](const std::string& what, int err) {
    throw Error(
        Located(File, 0, "cannot lock the output set: " + what + ": " + platform::ErrorText(err)));
  };
  for (;;) {
    RefuseSpecialFile(File, "lock the output set");
    const platform::TFileHandle fd = platform::OpenLockFile(File);
    if (fd == platform::NoFile)
      fail("cannot open the lock file", platform::LastError());
    // What was opened, which a swap since the check above may have made something else.
    const auto opened = platform::StatusOf(fd);
    if (!opened || opened->Kind != platform::TFileKind::Regular) {
      platform::Close(fd);
      RefuseSpecialFile(File, "lock the output set");
      fail("the lock file is not a regular file", platform::ErrorInvalid);
    }
    // A waiting writer asks again every few milliseconds rather than block in the lock
    // call: the kernel restarts a blocked lock after our signal handlers, so Ctrl-C would
    // go unheard until the other render let go.
    int rc;
    while ((rc = platform::TryLock(fd)) != 0 && wait && !timeIsUp() &&
           platform::LastError() == platform::ErrorWouldBlock) {
      if (InterruptSignal() != 0) {
        platform::Close(fd);
        ThrowIfInterrupted();
      }
      platform::SleepMs(20);
    }
    if (rc != 0) {
      const int err = platform::LastError();
      platform::Close(fd);
      if (err == platform::ErrorWouldBlock && wait)
        throw TransientError(setName + " is still being written by another render after " +
                             std::to_string(limitSeconds) + " s (--lock-timeout)");
      if (err == platform::ErrorWouldBlock)
        throw TransientError(setName + " is being written by another render");
      fail("the lock call failed", err);
    }
    // The holder before us removes the file when it is done: a lock on a file that no
    // longer has this name locks nothing that the next writer would see.
    const auto held = platform::StatusOf(fd);
    const auto named = platform::StatusOf(File);
    if (held && named && held->Device == named->Device && held->Identity == named->Identity) {
      Fd = fd;
      return;
    }
    platform::Close(fd);
  }
}

TOutputLock::~TOutputLock() {
  // Removed while still held: a writer that opens the name after this gets a new file,
  // and one that waits on the old file sees that it was removed and starts again.
  platform::Remove(File);
  platform::Close(Fd);
}

} // namespace quarvel
