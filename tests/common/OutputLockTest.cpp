// Output sets written by several writers at once (one lock per set, held over the
// renames), and the probe of an output folder before any work is spent on its files.

#include "common/OutputLock.h"
#include "common/AtomicFile.h"
#include "common/Error.h"
#include "common/Interrupt.h"

#include "TempFolder.h"
#include "platform/Platform.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace quarvel;

namespace {

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string LockError(const std::string& file, const std::string& set) {
  try {
    TOutputLock lock(file, set, false);
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

std::string ProbeError(const std::vector<std::string>& files) {
  try {
    ProbeOutputFiles(files);
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

bool AnyEntryBut(const fs::path& dir, const std::vector<std::string>& expected) {
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    const std::string rel = fs::relative(entry.path(), dir).generic_string();
    if (std::find(expected.begin(), expected.end(), rel) == expected.end())
      return true;
  }
  return false;
}

} // namespace

TEST(OutputLock, LockFileNames) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"out/units/tank", "out/units/.tank.lock"},
      {"tank", ".tank.lock"},
      {"/abs/x", "/abs/.x.lock"},
  };
  for (const auto& [stem, lock] : cases)
    EXPECT_EQ(OutputLockFileName(stem), lock) << stem;
}

TEST(OutputLock, ASecondWriterThatMustNotWaitIsRefusedAndTheLockFileGoesWithTheLock) {
  test::TempFolder dir("lock");
  const std::string file = dir / ".tank.lock";
  {
    TOutputLock held(file, "out/tank", true);
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(LockError(file, "out/tank"), "out/tank is being written by another render");
  }
  EXPECT_FALSE(fs::exists(file));
  // Free again; a lock file left by a killed holder is taken over.
  EXPECT_EQ(LockError(file, "out/tank"), "");
  std::ofstream(file) << "";
  EXPECT_EQ(LockError(file, "out/tank"), "");
  EXPECT_FALSE(fs::exists(file));
  // A link planted under the lock file's name is not followed.
  if (!test::HasSymbolicLinks)
    return;
  fs::create_symlink(dir / "elsewhere", file);
  EXPECT_NE(LockError(file, "out/tank").find("cannot lock the output set"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "elsewhere"));
}

TEST(OutputLock, AWaitingWriterGetsTheLockWhenTheHolderIsDone) {
  // The waiter blocks on the file the holder then removes; it must start again on a new
  // file rather than hold a lock that nobody else sees.
  test::TempFolder dir("lock");
  const std::string file = dir / ".tank.lock";
  std::optional<TOutputLock> held(std::in_place, file, "tank", true);
  std::atomic<bool> got{false};
  std::thread waiter([&] {
    TOutputLock second(file, "tank", true);
    got = true;
    // Held now: a third writer is refused.
    EXPECT_EQ(LockError(file, "tank"), "tank is being written by another render");
  });
  EXPECT_FALSE(got.load()); // cannot have it while `held` exists
  held.reset();
  waiter.join();
  EXPECT_TRUE(got.load());
  EXPECT_FALSE(fs::exists(file));
}

TEST(OutputLock, AWaitingWriterStopsWhenTheUserInterrupts) {
  // Ctrl-C while another render holds the set stops the wait; it does not have to last
  // until the holder is done.
  test::TempFolder dir("lock");
  const std::string file = dir / ".tank.lock";
  TOutputLock held(file, "tank", true);
  RequestInterrupt(SIGINT);
  EXPECT_THROW(TOutputLock(file, "tank", true), Interrupted);
  ClearInterrupt();
  EXPECT_TRUE(fs::exists(file)); // still the holder's
}

TEST(OutputLock, SetsWrittenAtOnceByTwoWritersStayWhole) {
  // Two writers replace the same set (four containers and their palettes) over and over;
  // whenever both are done the set on disk is all one writer's, never a mix.
  test::TempFolder dir("lock");
  const std::string stem = dir / "units/tank";
  auto setOf = [&](char writer, int round) {
    std::vector<TPendingFile> files;
    for (int a = 0; a < 4; ++a)
      for (const char* ext : {".kxz", ".p16"}) {
        const std::string text = std::string(1, writer) + std::to_string(round);
        files.push_back(
            {stem + "_" + std::to_string(a) + ext, std::vector<uint8_t>(text.begin(), text.end())});
      }
    return files;
  };
  const TSetLock lock{OutputLockFileName(stem), stem, true, {}};
  for (int round = 0; round < 60; ++round) {
    std::thread a([&] { WriteFilesAtomic(setOf('a', round), lock); });
    std::thread b([&] { WriteFilesAtomic(setOf('b', round), lock); });
    a.join();
    b.join();
    const std::string first = Read(stem + "_0.kxz");
    ASSERT_TRUE(first == "a" + std::to_string(round) || first == "b" + std::to_string(round));
    for (int i = 0; i < 4; ++i)
      for (const char* ext : {".kxz", ".p16"})
        ASSERT_EQ(Read(stem + "_" + std::to_string(i) + ext), first) << "round " << round;
  }
  EXPECT_FALSE(AnyEntryBut(dir.path, {"units", "units/tank_0.kxz", "units/tank_0.p16",
                                      "units/tank_1.kxz", "units/tank_1.p16", "units/tank_2.kxz",
                                      "units/tank_2.p16", "units/tank_3.kxz", "units/tank_3.p16"}));
}

TEST(OutputLock, AnEarlierSetsFilesAreRemovedBeforeTheLockIsReleased) {
  // The new set has two angles where the earlier one had four. Its last two files go
  // while the lock is held: a render of the same set waiting for the lock then writes its
  // own files after the removal, never to lose them to it.
  test::TempFolder dir("lock");
  const std::string stem = dir / "tank";
  for (int a = 0; a < 4; ++a)
    dir.Write("tank_" + std::to_string(a) + ".kxz", "old");
  fs::create_directories(dir / "tank_5.kxz/inside"); // a folder in the way cannot go
  struct TWatching : TFileCalls {
    std::string LockFile;
    std::vector<std::string> RemovedWhileLocked, RemovedUnlocked;
    int Unlink(const std::string& name) override {
      // A second open file description cannot take a lock the writer still holds.
      // (Only an existing lock file: OpenLockFile would make a missing one.)
      const platform::TFileHandle file =
          fs::exists(LockFile) ? platform::OpenLockFile(LockFile) : platform::NoFile;
      const bool locked = file != platform::NoFile && platform::TryLock(file) != 0;
      if (file != platform::NoFile)
        platform::Close(file);
      (locked ? RemovedWhileLocked : RemovedUnlocked).push_back(name);
      return TFileCalls::Unlink(name);
    }
  } calls;
  calls.LockFile = OutputLockFileName(stem);
  std::vector<std::string> messages;
  {
    TScopedFileCalls scoped(calls);
    messages = WriteFilesAtomic(
        {{stem + "_0.kxz", {'n'}}, {stem + "_1.kxz", {'n'}}},
        TSetLock{calls.LockFile,
                 stem,
                 true,
                 {stem + "_2.kxz", stem + "_3.kxz", stem + "_4.kxz", stem + "_5.kxz"}});
  }
  EXPECT_EQ(Read(stem + "_0.kxz"), "n");
  EXPECT_FALSE(fs::exists(stem + "_2.kxz"));
  EXPECT_FALSE(fs::exists(stem + "_3.kxz"));
  for (const std::string& f : {stem + "_2.kxz", stem + "_3.kxz", stem + "_4.kxz"})
    EXPECT_NE(std::find(calls.RemovedWhileLocked.begin(), calls.RemovedWhileLocked.end(), f),
              calls.RemovedWhileLocked.end())
        << f;
  // A file already gone is no failure; one that cannot be removed is said, with the reason.
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind(stem + "_5.kxz: cannot remove this output of an earlier render: ", 0),
            0u)
      << messages[0];
}

TEST(OutputProbe, FoldersThatCannotTakeTheFilesAreFoundBeforeAnythingIsMade) {
  test::TempFolder dir("probe");
  dir.Write("file", "x");
  fs::create_directories(dir / "out/taken.kxz");
  struct TCase {
    std::string File;
    std::string Error; // "" = can be written
  };
  const std::vector<TCase> cases = {
      {dir / "out/a.kxz", ""},
      {dir / "missing/deeper/a.kxz", ""}, // made when written: the probe makes nothing
      {dir / "file/a.kxz", dir / "file/a.kxz: cannot write file: " + dir / "file" +
                               " is a file in the way (a folder is needed there)"},
      {dir / "file/sub/a.kxz", dir / "file/sub/a.kxz: cannot write file: " + dir / "file" +
                                   " is a file in the way (a folder is needed there)"},
      {dir / "out/taken.kxz", dir / "out/taken.kxz: cannot write file: a folder has that name"},
  };
  for (const TCase& c : cases) {
    const std::string error = ProbeError({c.File});
    EXPECT_EQ(error.substr(0, c.Error.size()), c.Error) << c.File;
    EXPECT_EQ(error.empty(), c.Error.empty()) << error;
  }
  EXPECT_FALSE(fs::exists(dir / "missing"));
  EXPECT_FALSE(AnyEntryBut(dir.path, {"file", "out", "out/taken.kxz"}));

  // A folder that refuses new files (read-only, not ours), whoever runs the test.
  struct TReadOnly : TFileCalls {
    THandle MakeTemporary(std::string&) override {
      platform::SetLastError(EACCES);
      return -1;
    }
  } readOnly;
  TScopedFileCalls scoped(readOnly);
  EXPECT_EQ(ProbeError({dir / "out/new/a.kxz"}),
            dir / "out/new/a.kxz: cannot write file: cannot create files in folder " + dir / "out" +
                ": Permission denied");
}
