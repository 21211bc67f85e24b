// Every output file is written to a temporary file in the same folder and renamed over
// the old one when it is complete: a failed or interrupted save never leaves a
// truncated file and never loses the previous output. Missing folders are created.
//
// Files that belong together (every angle of a job, a container and its palette) are
// written as one set: all of them are complete on disk before the first replaces its old
// version, so a failure leaves the old set as it was, never a mix of old and new files.
//
// Temporary files are named ".NAME.tmp-XXXXXX" beside NAME (and, while a set is being
// renamed, ".NAME.tmp-XXXXXX.old" for the previous version). A failure removes them
// all, and so does a second stop request that ends the program at once. Only a process
// killed outright can leave one behind, and the next write of the same set under its lock
// removes it.
//
// A pending interrupt (common/Interrupt.h) is honoured before the first temporary file is
// made and again right before the first rename: the write then throws Interrupted and
// changes nothing.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarvel {

// Writes `size` bytes to `fileName` atomically. Throws quarvel::Error naming the file
// when it cannot be written (no temporary file is left behind).
void WriteFileAtomic(const std::string& fileName, const void* data, size_t size);
inline void WriteFileAtomic(const std::string& fileName, const std::vector<uint8_t>& bytes) {
  WriteFileAtomic(fileName, bytes.data(), bytes.size());
}

// One file of a set: its name and its whole contents.
struct TPendingFile {
  std::string Name;
  std::vector<uint8_t> Bytes;
};

// Writes a set of files all or nothing. Every name is checked first (a folder in the way
// fails before anything is written), then every file goes to its temporary and is flushed
// to disk, and only when all are complete are they renamed into place. A failure up to
// there removes every temporary file and leaves every old file byte for byte as it was;
// should a rename itself fail, the files already renamed get their old versions back
// (hard links keep them until the set is in place; on a file system without hard links
// the files already replaced stay new). Throws quarvel::Error naming the file that failed.
void WriteFilesAtomic(const std::vector<TPendingFile>& files);

// The lock a set is renamed under (common/OutputLock.h): its lock file, the set's name for
// messages, and whether (and for how many seconds at most, 0: as long as it takes) to wait
// while another process writes the same set. `Obsolete`
// names files of the set's earlier version that the new one no longer has.
struct TSetLock {
  std::string File;
  std::string SetName;
  bool Wait = true;
  std::vector<std::string> Obsolete;
  int WaitLimitSeconds = 0;
};

// WriteFilesAtomic with the set's renames (and the restoring of the old set should one of
// them fail) under `lock`: the lock is taken once every temporary file is complete and
// held until the set is in place, so two processes writing the same set leave one whole
// set, never files of both. Refused (Wait false, the set locked elsewhere) like any other
// failure: the temporaries are removed and the old set stays. Once the set is in place,
// the obsolete files are removed under the same lock (a render of the same set waiting
// for it cannot lose the files it writes to this removal); returns a message for each
// one that could not be removed (one already gone is no failure), and one saying which
// temporary files of a killed earlier write of the set were removed, if any.
std::vector<std::string> WriteFilesAtomic(const std::vector<TPendingFile>& files,
                                          const TSetLock& lock);

// Checks, before any work is spent on making them, that files of these names could be
// written: no name is taken by a folder, a FIFO, a device or a socket, no component of a name's
// folder is a file in the way, and the nearest existing folder on the way accepts a new file (a
// temporary file is made there and removed again; missing folders are not made here). Throws
// quarvel::Error naming the file, as the write itself would. Faults that come later (a full disk)
// are still caught by the all-or-nothing write.
void ProbeOutputFiles(const std::vector<std::string>& fileNames);

// The system calls the writes above go through. Tests put their own in place with
// TScopedFileCalls to fail the way a full disk, a read-only file system or a failing
// device would, whatever the user's rights. Each returns what the platform call of the
// same name returns (platform/Platform.h) and leaves the reason of a failure in
// platform::LastError(); the defaults make the platform calls themselves.
class TFileCalls {
public:
  using THandle = platform::TFileHandle;
  virtual ~TFileCalls() = default;
  virtual THandle MakeTemporary(std::string& pattern); // fills in the trailing XXXXXX
  virtual int64_t Write(THandle file, const void* data, size_t size);
  virtual int Sync(THandle file);
  virtual int Close(THandle file);
  virtual int Link(const std::string& existing, const std::string& newName);
  virtual int Rename(const std::string& from, const std::string& to);
  virtual int Unlink(const std::string& name);
};

// The calls in use: the system's unless a TScopedFileCalls replaced them.
TFileCalls& FileCalls();

// Puts `calls` in place for the whole process until destroyed, then restores the previous
// ones. Not for use while another thread writes files.
class TScopedFileCalls {
public:
  explicit TScopedFileCalls(TFileCalls& calls);
  ~TScopedFileCalls();
  TScopedFileCalls(const TScopedFileCalls&) = delete;
  TScopedFileCalls& operator=(const TScopedFileCalls&) = delete;

private:
  TFileCalls* Previous;
};

} // namespace quarvel
