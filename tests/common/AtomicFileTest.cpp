// Atomic output files: written beside the target and renamed over it, alone or as a set
// that replaces its old versions all or not at all, whatever fails on the way.

#include "common/AtomicFile.h"
#include "common/Error.h"
#include "common/Interrupt.h"

#include "TempFolder.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace quarvel;

namespace {

struct TempDir : test::TempFolder {
  TempDir() : TempFolder("atomic") {}
};

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string ErrorOf(const std::string& file, const std::string& text) {
  try {
    WriteFileAtomic(file, text.data(), text.size());
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

} // namespace

TEST(AtomicFile, ReplacesFilesAndCreatesFolders) {
  TempDir dir;
  const fs::path target = dir.path / "one" / "two" / "out.kxz";
  const std::vector<uint8_t> first = {1, 2, 3, 0, 255};
  WriteFileAtomic(target.generic_string(), first);
  EXPECT_EQ(Read(target), std::string("\x01\x02\x03\x00\xFF", 5));

  // A shorter second write replaces the file completely, leaving nothing else behind.
  WriteFileAtomic(target.generic_string(), "xy", 2);
  EXPECT_EQ(Read(target), "xy");
  EXPECT_EQ(Names(target.parent_path()), std::vector<std::string>{"out.kxz"});

  // An empty file is a file too.
  WriteFileAtomic(target.generic_string(), std::vector<uint8_t>());
  EXPECT_TRUE(fs::exists(target));
  EXPECT_EQ(fs::file_size(target), 0u);

  // The result gets the usual permissions, not those of a private temporary file.
  EXPECT_EQ(test::PermissionsOf(target.generic_string()), test::NewFilePermissions());

  // A name without a folder goes to the current folder.
  const fs::path previous = fs::current_path();
  fs::current_path(dir.path);
  WriteFileAtomic("here.p16", "p", 1);
  fs::current_path(previous);
  EXPECT_EQ(Read(dir.path / "here.p16"), "p");
}

TEST(AtomicFile, RefusalsKeepTheOldFileAndLeaveNoTemporary) {
  TempDir dir;
  // A folder where the file should go.
  const fs::path folder = dir.path / "taken";
  fs::create_directories(folder / "inside");
  const std::string message = ErrorOf(folder.generic_string(), "data");
  EXPECT_EQ(message.rfind(folder.generic_string() + ": ", 0), 0u) << message;
  EXPECT_TRUE(fs::is_directory(folder / "inside"));
  EXPECT_EQ(Names(dir.path), std::vector<std::string>{"taken"});

  // A folder that cannot be created because a file has its name.
  const fs::path blocker = dir.path / "blocker";
  std::ofstream(blocker) << "file";
  const std::string below = (blocker / "out.2p5d").generic_string();
  EXPECT_EQ(ErrorOf(below, "data").rfind(below + ": ", 0), 0u);
  EXPECT_EQ(Read(blocker), "file");
}

TEST(AtomicFile, ReadOnlyFolderKeepsTheOldFile) {
  // Root ignores the permission, so this only runs where it is enforced.
  TempDir dir;
  const fs::path locked = dir.path / "locked";
  fs::create_directories(locked);
  std::ofstream(locked / "old.kxz") << "old";
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  if (std::ofstream(locked / "probe")) {
    fs::permissions(locked, fs::perms::owner_all);
    fs::remove(locked / "probe");
    GTEST_SKIP() << "folder permissions are not enforced for this user (or this system)";
  }
  const std::string lockedFile = (locked / "old.kxz").generic_string();
  const std::string lockedMessage = ErrorOf(lockedFile, "new");
  fs::permissions(locked, fs::perms::owner_all);
  EXPECT_EQ(lockedMessage.rfind(lockedFile + ": ", 0), 0u) << lockedMessage;
  EXPECT_EQ(Read(locked / "old.kxz"), "old");
  EXPECT_EQ(Names(locked), std::vector<std::string>{"old.kxz"});
}

namespace {

// System calls that fail on request, as a full disk, a read-only file system or a failing
// device would (whatever the user's rights); everything else goes to the real calls.
struct TFaultyCalls : TFileCalls {
  int CreateError = 0;         // every MakeTemporary from the CreateFailsAt-th on fails so
  int CreateFailsAt = 1;       // counted from 1
  size_t SpaceLeft = SIZE_MAX; // bytes that fit before writes fail with ENOSPC
  bool WriteStalls = false;    // writes report 0 bytes written
  int SyncError = 0;
  int RenameError = 0; // the RenameFailsAt-th rename (from 1) fails so
  int RenameFailsAt = 1;
  int LinkError = 0;
  int Creates = 0, Renames = 0;
  std::function<void()> OnWrite; // called before every write

  THandle MakeTemporary(std::string& pattern) override {
    if (CreateError != 0 && ++Creates >= CreateFailsAt) {
      platform::SetLastError(CreateError);
      return -1;
    }
    return TFileCalls::MakeTemporary(pattern);
  }
  int64_t Write(THandle fd, const void* data, size_t size) override {
    if (OnWrite)
      OnWrite();
    if (WriteStalls)
      return 0;
    if (SpaceLeft == 0) {
      platform::SetLastError(ENOSPC);
      return -1;
    }
    const int64_t n = TFileCalls::Write(fd, data, std::min(size, SpaceLeft));
    if (n > 0 && SpaceLeft != SIZE_MAX)
      SpaceLeft -= static_cast<size_t>(n);
    return n;
  }
  int Sync(THandle fd) override {
    if (SyncError != 0) {
      platform::SetLastError(SyncError);
      return -1;
    }
    return TFileCalls::Sync(fd);
  }
  int Rename(const std::string& from, const std::string& to) override {
    // Only the renames into place count, not those putting old files back.
    if (RenameError != 0 && std::string(from).find(".old") == std::string::npos &&
        ++Renames == RenameFailsAt) {
      platform::SetLastError(RenameError);
      return -1;
    }
    return TFileCalls::Rename(from, to);
  }
  int Link(const std::string& existing, const std::string& newName) override {
    if (LinkError != 0) {
      platform::SetLastError(LinkError);
      return -1;
    }
    return TFileCalls::Link(existing, newName);
  }
};

// Every file below dir (relative name -> contents); temporaries included.
std::map<std::string, std::string> Contents(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    if (!entry.is_directory())
      files[fs::relative(entry.path(), dir).generic_string()] = Read(entry.path());
  return files;
}

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::string SetErrorOf(const std::vector<TPendingFile>& files) {
  try {
    WriteFilesAtomic(files);
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

} // namespace

TEST(AtomicFile, ASetReplacesEveryFileAndLeavesNothingElse) {
  TempDir dir;
  std::ofstream(dir.path / "a.kxz") << "old a";
  std::ofstream(dir.path / "a.p16") << "old palette";
  const std::vector<TPendingFile> set = {
      {(dir.path / "a.kxz").generic_string(), Bytes("new a")},
      {(dir.path / "a.p16").generic_string(), Bytes("new palette")},
      {(dir.path / "sub/b.kxz").generic_string(), Bytes("")}};
  WriteFilesAtomic(set);
  EXPECT_EQ(Contents(dir.path),
            (std::map<std::string, std::string>{
                {"a.kxz", "new a"}, {"a.p16", "new palette"}, {"sub/b.kxz", ""}}));
  EXPECT_EQ(test::PermissionsOf((dir.path / "a.p16").generic_string()), test::NewFilePermissions());
  // An empty set writes nothing.
  WriteFilesAtomic({});
  EXPECT_EQ(Contents(dir.path).size(), 3u);
}

TEST(AtomicFile, EveryFaultNamesTheFileKeepsTheOldFilesAndLeavesNoTemporary) {
  struct TCase {
    const char* Fault;
    std::function<void(TFaultyCalls&)> Arm;
    size_t FailingFile; // the file the message must name
  };
  const std::vector<TCase> cases = {
      {"disk full in the second file", [](TFaultyCalls& c) { c.SpaceLeft = 13; }, 1},
      {"disk full at once", [](TFaultyCalls& c) { c.SpaceLeft = 0; }, 0},
      {"writes that make no progress", [](TFaultyCalls& c) { c.WriteStalls = true; }, 0},
      {"read-only file system", [](TFaultyCalls& c) { c.CreateError = EROFS; }, 0},
      {"no permission for the last file",
       [](TFaultyCalls& c) {
         c.CreateError = EACCES;
         c.CreateFailsAt = 3;
       },
       2},
      {"flush fails", [](TFaultyCalls& c) { c.SyncError = EIO; }, 0},
      {"first rename fails", [](TFaultyCalls& c) { c.RenameError = EIO; }, 0},
      {"a later rename fails after others replaced their files",
       [](TFaultyCalls& c) {
         c.RenameError = EBUSY;
         c.RenameFailsAt = 3;
       },
       2},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Fault);
    TempDir dir;
    std::ofstream(dir.path / "a.kxz") << "old a, long enough";
    std::ofstream(dir.path / "a.p16") << "old palette";
    // The third file is new: a failed set must not leave it behind either.
    const std::vector<TPendingFile> set = {
        {(dir.path / "a.kxz").generic_string(), Bytes("new a")},
        {(dir.path / "a.p16").generic_string(), Bytes("the new palette")},
        {(dir.path / "sub/b.kxz").generic_string(), Bytes("new b")}};
    const auto before = Contents(dir.path);

    TFaultyCalls faulty;
    test.Arm(faulty);
    std::string message;
    {
      TScopedFileCalls scoped(faulty);
      message = SetErrorOf(set);
    }
    const std::string& failing = set[test.FailingFile].Name;
    EXPECT_EQ(message.rfind(failing + ": cannot write file: ", 0), 0u) << message;
    EXPECT_EQ(Contents(dir.path), before); // no temporary, no new file, old bytes kept

    // The same fault on a file written alone (where it strikes the first file).
    if (test.FailingFile != 0)
      continue;
    TFaultyCalls alone;
    test.Arm(alone);
    {
      TScopedFileCalls scoped(alone);
      message = ErrorOf(set[0].Name, "new");
    }
    EXPECT_EQ(message.rfind(set[0].Name + ": cannot write file: ", 0), 0u) << message;
    EXPECT_EQ(Contents(dir.path), before);
  }
  // The system calls are back in place.
  TempDir dir;
  WriteFileAtomic((dir.path / "x").generic_string(), "x", 1);
  EXPECT_EQ(Read(dir.path / "x"), "x");
}

TEST(AtomicFile, WithoutHardLinksAFailedRenameStillLeavesNoTemporary) {
  // The old versions cannot be kept aside, so the files renamed before the failure stay
  // new; the failing one and those after it keep their old bytes.
  TempDir dir;
  std::ofstream(dir.path / "a") << "old a";
  std::ofstream(dir.path / "b") << "old b";
  std::ofstream(dir.path / "c") << "old c";
  TFaultyCalls faulty;
  faulty.LinkError = EPERM;
  faulty.RenameError = EIO;
  faulty.RenameFailsAt = 2;
  std::string message;
  {
    TScopedFileCalls scoped(faulty);
    message = SetErrorOf({{(dir.path / "a").generic_string(), Bytes("new a")},
                          {(dir.path / "b").generic_string(), Bytes("new b")},
                          {(dir.path / "c").generic_string(), Bytes("new c")}});
  }
  EXPECT_EQ(message.rfind((dir.path / "b").generic_string() + ": ", 0), 0u) << message;
  EXPECT_EQ(Contents(dir.path),
            (std::map<std::string, std::string>{{"a", "new a"}, {"b", "old b"}, {"c", "old c"}}));
}

TEST(AtomicFile, AFolderInTheWayRefusesTheWholeSetBeforeAnythingIsWritten) {
  TempDir dir;
  std::ofstream(dir.path / "a.kxz") << "old a";
  fs::create_directories(dir.path / "b.kxz" / "inside");
  TFaultyCalls counting;
  counting.CreateError = EIO;
  counting.CreateFailsAt = 1000; // counts, never fails
  std::string message;
  {
    TScopedFileCalls scoped(counting);
    message = SetErrorOf({{(dir.path / "a.kxz").generic_string(), Bytes("new a")},
                          {(dir.path / "new/c.kxz").generic_string(), Bytes("c")},
                          {(dir.path / "b.kxz").generic_string(), Bytes("new b")}});
  }
  EXPECT_EQ(message.rfind((dir.path / "b.kxz").generic_string() + ": ", 0), 0u) << message;
  EXPECT_NE(message.find("a folder has that name"), std::string::npos) << message;
  EXPECT_EQ(counting.Creates, 0);
  EXPECT_EQ(Names(dir.path), (std::vector<std::string>{"a.kxz", "b.kxz"}));
  EXPECT_EQ(Read(dir.path / "a.kxz"), "old a");
  EXPECT_TRUE(fs::is_directory(dir.path / "b.kxz" / "inside"));
}

TEST(AtomicFile, AnInterruptStopsTheWriteBeforeAnyOldFileIsReplaced) {
  TempDir dir;
  std::ofstream(dir.path / "a") << "old a";
  std::ofstream(dir.path / "b") << "old b";
  const std::vector<TPendingFile> set = {{(dir.path / "a").generic_string(), Bytes("new a")},
                                         {(dir.path / "b").generic_string(), Bytes("new b")}};
  const auto before = Contents(dir.path);
  // Pending before the write: nothing is made at all.
  RequestInterrupt(SIGTERM);
  RequestInterrupt(SIGINT); // the first request is the one kept
  try {
    WriteFilesAtomic(set);
    ADD_FAILURE() << "not interrupted";
  } catch (const Interrupted& e) {
    EXPECT_EQ(e.Signal, SIGTERM);
  }
  ClearInterrupt();
  EXPECT_EQ(Contents(dir.path), before);

  // Arriving while the temporaries are written: they are removed, the old files stay.
  TFaultyCalls interrupting;
  int writes = 0;
  interrupting.OnWrite = [&] {
    if (++writes == 2)
      RequestInterrupt(SIGINT);
  };
  {
    TScopedFileCalls scoped(interrupting);
    EXPECT_THROW(WriteFilesAtomic(set), Interrupted);
    EXPECT_EQ(writes, 2); // both files were complete before it was noticed
    EXPECT_EQ(InterruptSignal(), SIGINT);
    ClearInterrupt();
    EXPECT_EQ(Contents(dir.path), before);
    // Once the request is dealt with, writing goes on as usual.
    WriteFilesAtomic(set);
  }
  EXPECT_EQ(Read(dir.path / "b"), "new b");
  EXPECT_EQ(InterruptSignal(), 0);
}
