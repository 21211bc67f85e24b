#include "common/AtomicFile.h"

#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/Interrupt.h"
#include "common/OutputLock.h"
#include "common/Path.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

namespace fs = std::filesystem;

namespace quarvel {

using platform::LastError;
using platform::NoFile;

TFileCalls::THandle TFileCalls::MakeTemporary(std::string& pattern) {
  return platform::MakeTemporary(pattern);
}
int64_t TFileCalls::Write(THandle file, const void* data, size_t size) {
  return platform::Write(file, data, size);
}
int TFileCalls::Sync(THandle file) {
  return platform::Sync(file);
}
int TFileCalls::Close(THandle file) {
  return platform::Close(file);
}
int TFileCalls::Link(const std::string& existing, const std::string& newName) {
  return platform::Link(existing, newName);
}
int TFileCalls::Rename(const std::string& from, const std::string& to) {
  return platform::Replace(from, to);
}
int TFileCalls::Unlink(const std::string& name) {
  return platform::Remove(name);
}

namespace {

TFileCalls systemCalls;
std::atomic<TFileCalls*> currentCalls{&systemCalls};

[[noreturn]] void Fail(const std::string& fileName, const std::string& what, int err) {
  const std::string message =
      Located(fileName, 0, "cannot write file: " + what + ": " + platform::ErrorText(err));
  if (err == platform::ErrorNoSpace)
    throw TransientError(message); // the next try may find room, or another machine
  throw Error(message);
}

// An output's name may be free or a file's (which the set replaces): a folder there, or a
// link to one, cannot be replaced, and a FIFO or device is someone else's.
void RefuseTakenName(const std::string& name) {
  std::error_code ec;
  if (fs::is_directory(PathOf(name), ec))
    Fail(name, "a folder has that name", platform::ErrorIsFolder);
  RefuseSpecialFile(name, "write file");
}

struct TSource {
  const std::string* Name;
  const uint8_t* Data;
  size_t Size;
};

// One file of a set on its way into place. Its temporary names are removed should a second
// stop request end the program, and the temporary file is held open with a shared lock:
// a render of the same set looking for temporaries that killed runs left (which nobody
// holds) leaves this one alone.
struct TStaged {
  enum class TOld { Unknown, Absent, Kept };
  std::string Temporary; // "" until made; cleared once renamed into place
  std::string Backup;    // a second name of the old file while the set is renamed
  TOld Old = TOld::Unknown;
  int TemporaryRemoval = -1;
  int BackupRemoval = -1;
  platform::TFileHandle Guard = NoFile;

  TStaged() = default;
  TStaged(const TStaged&) = delete;
  TStaged& operator=(const TStaged&) = delete;
  ~TStaged() {
    platform::KeepOnAbruptEnd(TemporaryRemoval);
    platform::KeepOnAbruptEnd(BackupRemoval);
    if (Guard != NoFile)
      platform::Close(Guard);
  }
};

// Open guards of one set at most: a set of thousands of files must not use up the
// process's files (its temporaries beyond this are merely not guarded).
constexpr size_t MaxGuards = 256;

void Guard(TStaged& s, size_t index) {
  s.TemporaryRemoval = platform::RemoveOnAbruptEnd(s.Temporary);
  if (index >= MaxGuards)
    return;
  s.Guard = platform::OpenForReading(s.Temporary, false, false);
  if (s.Guard != NoFile)
    platform::TryLock(s.Guard, true); // a file system without locks guards nothing
}

// Whether `entry` is the name of a temporary file (or of an old file's second name) that
// WriteSet makes for one of the files whose names are `prefixes` (".NAME.tmp-").
bool IsTemporaryOf(const std::string& entry, const std::set<std::string>& prefixes) {
  const size_t dash = entry.rfind(".tmp-");
  if (dash == std::string::npos || !prefixes.count(entry.substr(0, dash + 5)))
    return false;
  const std::string rest = entry.substr(dash + 5);
  return rest.size() == 6 || (rest.size() == 10 && rest.compare(6, 4, ".old") == 0);
}

// The names in the files' folders of the temporary files (and old files' second names)
// that WriteSet makes for files of these names, whoever made them.
std::vector<std::string> TemporariesOf(const std::vector<std::string>& fileNames) {
  std::map<std::string, std::set<std::string>> prefixes; // by folder
  for (const std::string& name : fileNames) {
    const fs::path target = PathOf(name);
    const fs::path dir = target.parent_path();
    prefixes[dir.empty() ? std::string(".") : Utf8Of(dir)].insert("." + Utf8Of(target.filename()) +
                                                                  ".tmp-");
  }
  std::vector<std::string> found;
  for (const auto& [dir, names] : prefixes) {
    std::error_code ec;
    for (fs::directory_iterator it(PathOf(dir), ec), end; !ec && it != end; it.increment(ec))
      if (IsTemporaryOf(Utf8Of(it->path().filename()), names))
        found.push_back(Utf8Of(it->path()));
  }
  std::sort(found.begin(), found.end());
  return found;
}

// Removes the temporary files of this set that earlier renders left when they were killed
// outright (every other way out removes them): those whose exclusive lock can be taken,
// which no live writer holds a shared lock on, and which are older than a minute, since a
// writer takes its lock a moment after its temporary file appears. Runs under the set's
// lock, so no writer of the set is renaming meanwhile. Something other than a file under
// such a name fails the set. Returns a message when it removed any.
std::string RemoveLeftTemporaries(const std::vector<TSource>& files,
                                  const std::vector<TStaged>& staged) {
  std::vector<std::string> names;
  for (const TSource& file : files)
    names.push_back(*file.Name);
  std::set<std::string> own;
  for (const TStaged& s : staged)
    own.insert(s.Temporary);
  const int64_t before = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count() -
                         int64_t{60} * 1000000000;
  std::vector<std::string> removed;
  for (const std::string& path : TemporariesOf(names)) {
    if (own.count(path))
      continue;
    RefuseSpecialFile(path, "write the set");
    const platform::TFileHandle fd = platform::OpenForReading(path, false, false);
    const bool link = fd == NoFile && LastError() == platform::ErrorIsLink;
    const std::optional<platform::TFileStatus> st =
        fd == NoFile ? std::nullopt : platform::StatusOf(fd);
    const bool unused = st && st->MTimeNs < before && platform::TryLock(fd) == 0;
    if ((link || unused) && platform::Remove(path) == 0)
      removed.push_back(path);
    if (fd != NoFile)
      platform::Close(fd);
  }
  if (removed.empty())
    return "";
  return Utf8Of(PathOf(removed.front()).parent_path()) + ": removed " +
         std::to_string(removed.size()) +
         (removed.size() == 1 ? " temporary file" : " temporary files") +
         " that a render stopped while saving left behind (" +
         Utf8Of(PathOf(removed.front()).filename()) + (removed.size() > 1 ? ", ..." : "") + ")";
}

void WriteAll(TFileCalls& calls, TFileCalls::THandle fd, const TSource& file) {
  const uint8_t* bytes = file.Data;
  size_t left = file.Size;
  while (left > 0) {
    const int64_t n = calls.Write(fd, bytes, left);
    if (n < 0)
      Fail(*file.Name, "write failed", LastError());
    // A write that makes no progress would otherwise be retried for ever.
    if (n == 0)
      Fail(*file.Name, "write failed", platform::ErrorNoSpace);
    bytes += n;
    left -= static_cast<size_t>(n);
  }
}

std::vector<std::string> WriteSet(const std::vector<TSource>& files, const TSetLock* lock) {
  ThrowIfInterrupted();
  TFileCalls& calls = FileCalls();

  // Every name is checked before anything is written: one file of the set that cannot go
  // where it should must not cost the others their old versions.
  for (const TSource& file : files)
    RefuseTakenName(*file.Name);
  for (const TSource& file : files) {
    const fs::path dir = PathOf(*file.Name).parent_path();
    std::error_code ec;
    if (!dir.empty())
      fs::create_directories(dir, ec);
    if (ec)
      Fail(*file.Name, "cannot create folder " + Utf8Of(dir), ec.value());
  }

  std::vector<TStaged> staged(files.size());
  std::optional<TOutputLock> held; // released (and its file removed) when the set is done
  std::string leftBehind;
  TFileCalls::THandle openFd = NoFile;
  try {
    for (size_t i = 0; i < files.size(); ++i) {
      const std::string& name = *files[i].Name;
      const fs::path target = PathOf(name);
      const fs::path dir = target.parent_path();
      // The temporary goes in the target's folder, so the final rename never crosses
      // file systems.
      std::string pattern = (dir.empty() ? std::string(".") : Utf8Of(dir)) + "/." +
                            Utf8Of(target.filename()) + ".tmp-XXXXXX";
      openFd = calls.MakeTemporary(pattern);
      if (openFd == NoFile)
        Fail(name, "cannot create temporary file", LastError());
      staged[i].Temporary = pattern;
      Guard(staged[i], i);
      WriteAll(calls, openFd, files[i]);
      // Some file systems cannot flush; their files are written all the same.
      if (calls.Sync(openFd) != 0 && LastError() != platform::ErrorInvalid)
        Fail(name, "flush failed", LastError());
      const TFileCalls::THandle fd = openFd;
      openFd = NoFile; // closed even when close reports an error
      if (calls.Close(fd) != 0)
        Fail(name, "close failed", LastError());
    }
    // Everything slow is done: the lock is held only for the renames.
    if (lock) {
      held.emplace(lock->File, lock->SetName, lock->Wait, lock->WaitLimitSeconds);
      leftBehind = RemoveLeftTemporaries(files, staged);
    }
    // The last moment at which stopping costs nothing.
    ThrowIfInterrupted();
  } catch (...) {
    if (openFd != NoFile)
      calls.Close(openFd);
    for (const TStaged& s : staged)
      if (!s.Temporary.empty())
        calls.Unlink(s.Temporary);
    throw;
  }

  // While the set is renamed, every old file keeps a second name, so that a rename that
  // fails half-way can put the old set back. One file needs none: its rename is atomic.
  if (files.size() > 1) {
    for (size_t i = 0; i < files.size(); ++i) {
      TStaged& s = staged[i];
      s.Backup = s.Temporary + ".old";
      if (calls.Link(*files[i].Name, s.Backup) == 0) {
        s.Old = TStaged::TOld::Kept;
        s.BackupRemoval = platform::RemoveOnAbruptEnd(s.Backup);
      } else {
        // Not found: nothing to keep. Anything else (no hard links on this file system):
        // that file cannot be restored.
        s.Old =
            LastError() == platform::ErrorNotFound ? TStaged::TOld::Absent : TStaged::TOld::Unknown;
        s.Backup.clear();
      }
    }
  }

  for (size_t i = 0; i < files.size(); ++i) {
    const std::string& name = *files[i].Name;
    if (calls.Rename(staged[i].Temporary, name) == 0) {
      staged[i].Temporary.clear();
      // The guard was for the temporary, which is gone. Held open under the file's own
      // name, it would keep Windows from putting the old file back there should a later
      // rename fail (a file that is open cannot be replaced).
      if (staged[i].Guard != NoFile) {
        platform::Close(staged[i].Guard);
        staged[i].Guard = NoFile;
      }
      continue;
    }
    const int err = LastError();
    // Back to the old set. An old version that cannot be put back is dropped with the
    // temporaries: its file keeps the new, complete contents.
    for (size_t j = 0; j < i; ++j) {
      TStaged& s = staged[j];
      if (s.Old == TStaged::TOld::Kept) {
        if (calls.Rename(s.Backup, *files[j].Name) == 0)
          s.Backup.clear();
      } else if (s.Old == TStaged::TOld::Absent) {
        calls.Unlink(*files[j].Name);
      }
    }
    for (const TStaged& s : staged) {
      if (!s.Temporary.empty())
        calls.Unlink(s.Temporary);
      if (!s.Backup.empty())
        calls.Unlink(s.Backup);
    }
    Fail(name, "cannot replace file", err);
  }
  for (const TStaged& s : staged)
    if (!s.Backup.empty())
      calls.Unlink(s.Backup);

  std::vector<std::string> notRemoved;
  if (!leftBehind.empty())
    notRemoved.push_back(leftBehind);
  if (lock)
    for (const std::string& file : lock->Obsolete) {
      if (calls.Unlink(file) == 0)
        continue;
      const int err = LastError(); // before the message's allocations
      if (err != platform::ErrorNotFound)
        notRemoved.push_back(
            file + ": cannot remove this output of an earlier render: " + platform::ErrorText(err));
    }
  return notRemoved;
}

} // namespace

TFileCalls& FileCalls() {
  return *currentCalls.load();
}

TScopedFileCalls::TScopedFileCalls(TFileCalls& calls) : Previous(currentCalls.exchange(&calls)) {}

TScopedFileCalls::~TScopedFileCalls() {
  currentCalls.store(Previous);
}

void WriteFileAtomic(const std::string& fileName, const void* data, size_t size) {
  WriteSet({TSource{&fileName, static_cast<const uint8_t*>(data), size}}, nullptr);
}

namespace {

std::vector<TSource> SourcesOf(const std::vector<TPendingFile>& files) {
  std::vector<TSource> sources;
  sources.reserve(files.size());
  for (const TPendingFile& file : files)
    sources.push_back(TSource{&file.Name, file.Bytes.data(), file.Bytes.size()});
  return sources;
}

} // namespace

void WriteFilesAtomic(const std::vector<TPendingFile>& files) {
  WriteSet(SourcesOf(files), nullptr);
}

std::vector<std::string> WriteFilesAtomic(const std::vector<TPendingFile>& files,
                                          const TSetLock& lock) {
  return WriteSet(SourcesOf(files), &lock);
}

void ProbeOutputFiles(const std::vector<std::string>& fileNames) {
  TFileCalls& calls = FileCalls();
  std::set<std::string> probed;
  for (const std::string& name : fileNames) {
    std::error_code ec;
    const fs::path target = PathOf(name);
    RefuseTakenName(name);
    // The nearest part of the folder's path that exists: it must be a folder, and it is
    // where the missing folders (if any) will be made.
    fs::path dir = target.parent_path();
    while (!dir.empty() && !fs::exists(fs::symlink_status(dir, ec)))
      dir = dir.parent_path();
    if (dir.empty())
      dir = ".";
    if (!fs::is_directory(dir, ec))
      Fail(name, Utf8Of(dir) + " is a file in the way (a folder is needed there)",
           platform::ErrorNotFolder);
    if (!probed.insert(Utf8Of(dir)).second)
      continue;
    std::string pattern = Utf8Of(dir / ".quarvel-probe-XXXXXX");
    const TFileCalls::THandle fd = calls.MakeTemporary(pattern);
    if (fd == NoFile)
      Fail(name, "cannot create files in folder " + Utf8Of(dir), LastError());
    calls.Close(fd);
    calls.Unlink(pattern);
  }
  // What the set's write would refuse among its temporaries' names, refused now.
  for (const std::string& path : TemporariesOf(fileNames))
    RefuseSpecialFile(path, "write the set");
}

} // namespace quarvel
