// Atomic output files: written beside the target and renamed over it.

#include "common/AtomicFile.h"
#include "common/Error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace quarvel;

namespace {

struct TempDir {
  fs::path path;
  TempDir() {
    path = fs::temp_directory_path() /
           ("quarvel-atomic-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path, ec);
  }
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
  WriteFileAtomic(target.string(), first);
  EXPECT_EQ(Read(target), std::string("\x01\x02\x03\x00\xFF", 5));

  // A shorter second write replaces the file completely, leaving nothing else behind.
  WriteFileAtomic(target.string(), "xy", 2);
  EXPECT_EQ(Read(target), "xy");
  EXPECT_EQ(Names(target.parent_path()), std::vector<std::string>{"out.kxz"});

  // An empty file is a file too.
  WriteFileAtomic(target.string(), std::vector<uint8_t>());
  EXPECT_TRUE(fs::exists(target));
  EXPECT_EQ(fs::file_size(target), 0u);

  // The result gets the usual permissions, not those of a private temporary file.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat info {};
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);

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
  const std::string message = ErrorOf(folder.string(), "data");
  EXPECT_EQ(message.rfind(folder.string() + ": ", 0), 0u) << message;
  EXPECT_TRUE(fs::is_directory(folder / "inside"));
  EXPECT_EQ(Names(dir.path), std::vector<std::string>{"taken"});

  // A folder that cannot be created because a file has its name.
  const fs::path blocker = dir.path / "blocker";
  std::ofstream(blocker) << "file";
  const std::string below = (blocker / "out.2p5d").string();
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
  if (::access(locked.c_str(), W_OK) == 0) {
    fs::permissions(locked, fs::perms::owner_all);
    GTEST_SKIP() << "folder permissions are not enforced for this user";
  }
  const std::string lockedFile = (locked / "old.kxz").string();
  const std::string lockedMessage = ErrorOf(lockedFile, "new");
  fs::permissions(locked, fs::perms::owner_all);
  EXPECT_EQ(lockedMessage.rfind(lockedFile + ": ", 0), 0u) << lockedMessage;
  EXPECT_EQ(Read(locked / "old.kxz"), "old");
  EXPECT_EQ(Names(locked), std::vector<std::string>{"old.kxz"});
}
