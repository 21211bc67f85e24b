// One writer at a time for a set of output files.
//
// Two renders of the same job into the same folder (two roots, two build machines sharing
// a folder, one name typed twice in different forms) each write their set atomically, but
// the sets' renames could interleave and leave a container of one run beside the palette
// of the other. The rename phase of a set therefore runs under an advisory lock
// on a lock file beside the set: ".STEM.lock" for the files STEM_0.kxz, STEM_0.p16, ...
// A second writer of the same set waits until the first is done, or fails at once when
// it must not wait.
//
// The lock file is removed when the lock is released, so it does not linger among the
// outputs. A writer that got the lock on a file that has been removed meanwhile (the
// previous holder removed it while this one waited) starts again on a fresh file, so that
// two writers can never hold locks on two different files of the same name. A process
// killed while holding the lock leaves the empty lock file behind; the next writer takes
// it over.
#pragma once

#include "platform/Platform.h"

#include <string>

namespace quarvel {

// The lock file of an output set: ".STEM.lock" in the folder of `stem` ("out/units/tank"
// -> "out/units/.tank.lock").
std::string OutputLockFileName(const std::string& stem);

class TOutputLock {
public:
  // Takes the lock of `lockFile` (its folder must exist), waiting while another process
  // holds it when `wait` (for at most `limitSeconds` when not 0); otherwise, or once the
  // time is up, throws TransientError "`setName` is being written by another render".
  // Other failures throw quarvel::Error naming the lock file.
  TOutputLock(std::string lockFile, const std::string& setName, bool wait, int limitSeconds = 0);
  ~TOutputLock(); // removes the lock file and releases the lock
  TOutputLock(const TOutputLock&) = delete;
  TOutputLock& operator=(const TOutputLock&) = delete;

private:
  std::string File;
  platform::TFileHandle Fd = platform::NoFile;
};

} // namespace quarvel
