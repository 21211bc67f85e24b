// A folder of one test, below the system's temporary folder: made empty when the test
// creates it, removed with everything in it when the test is done.
#pragma once

#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace quarvel::test {

struct TempFolder {
  std::filesystem::path path;

  // Named after the tag, the process and the running test, so tests in parallel
  // processes never share a folder.
  explicit TempFolder(const std::string& tag) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // With "/" between the names on every system, as the program writes paths.
    std::string folder = std::filesystem::temp_directory_path().generic_string();
    while (folder.size() > 1 && folder.back() == '/')
      folder.pop_back();
    path = std::filesystem::path(
        folder + "/" +
        ("quarvel-" + tag + "-" + std::to_string(ProcessId()) + "-" +
         (info ? std::string(info->test_suite_name()) + "-" + info->name() : "global")));
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
  }
  ~TempFolder() {
    std::error_code ec;
    // A test may have made its folder read-only.
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string str() const { return path.generic_string(); }
  std::string operator/(const std::string& rel) const { return (path / rel).generic_string(); }

  // Writes `text` to the relative path `rel`, creating folders.
  void Write(const std::string& rel, const std::string& text) const {
    std::filesystem::create_directories((path / rel).parent_path());
    std::ofstream(path / rel, std::ios::binary) << text;
  }
  void Touch(const std::string& rel, const std::string& text = "x") const { Write(rel, text); }
};

} // namespace quarvel::test
