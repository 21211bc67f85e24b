// Progress written as lines off a terminal, counted nouns, and the problems the list scans
// report.
#include "common/ProgressLines.h"
#include "common/FileLists.h"
#include "common/Text.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace quarvel {
namespace {

TEST(ProgressLines, EachTextOnceThenAtMostEveryTenPercentAndFiveSeconds) {
  struct TStep {
    int32_t Percent;
    const char* Text;
    double Seconds;
    const char* Line; // "" = left out
  };
  const std::vector<TStep> steps = {
      {0, "Loading", 0, "Loading"},
      {0, "Loading OBJ [a.obj]", 0, "Loading OBJ [a.obj]"},
      // The line counter moves: the text is the same without it.
      {1, "Loading OBJ [a.obj] 2/200", 0.1, ""},
      {50, "Loading OBJ [a.obj] 100/200", 1, ""},
      // Ten percent and five seconds since the last line: one more.
      {60, "Loading OBJ [a.obj] 120/200", 6, "Loading OBJ [a.obj] 120/200"},
      {99, "Loading OBJ [a.obj] 199/200", 10, ""},
      {0, "Loading OBJ Material [a.obj]", 10, "Loading OBJ Material [a.obj]"},
      {0, "Rendering OBJs - Pass 1 (Visuals)", 10, "Rendering OBJs - Pass 1 (Visuals)"},
      // Many seconds, too few percent; then many percent, too few seconds.
      {5, "Rendering OBJs - Pass 1 (Visuals)", 100, ""},
      {40, "Rendering OBJs - Pass 1 (Visuals)", 12, ""},
      {40, "Rendering OBJs - Pass 1 (Visuals)", 15, "Rendering OBJs - Pass 1 (Visuals) (40%)"},
      {49, "Rendering OBJs - Pass 1 (Visuals)", 30, ""},
      {50, "Rendering OBJs - Pass 1 (Visuals)", 30, "Rendering OBJs - Pass 1 (Visuals) (50%)"},
      {0, "Rendering OBJs - Pass 2 (ZBuffer)", 30, "Rendering OBJs - Pass 2 (ZBuffer)"},
      {0, "Finished!", 30, "Finished!"},
  };
  TProgressLines lines;
  for (const TStep& s : steps)
    EXPECT_EQ(lines.Line(s.Percent, s.Text, s.Seconds), s.Line) << s.Text << " at " << s.Seconds;
}

TEST(ProgressLines, OnlyATrailingNumberPairIsACounter) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"Loading OBJ [a.obj] 2/200", "Loading OBJ [a.obj]"},
      {"Loading OBJ [2/3.obj]", "Loading OBJ [2/3.obj]"},
      {"copy 1/x", "copy 1/x"},
      {"12/200", "12/200"},
      {"a /2", "a /2"},
  };
  for (const auto& [text, key] : cases)
    EXPECT_EQ(WithoutCounter(text), key) << text;
}

TEST(Counted, SingularForOneOnly) {
  EXPECT_EQ(Counted(1, "frame"), "1 frame");
  EXPECT_EQ(Counted(0, "frame"), "0 frames");
  EXPECT_EQ(Counted(3, "frame"), "3 frames");
  EXPECT_EQ(Counted(-1, "frame"), "-1 frames");
  EXPECT_EQ(Counted(2, "more warning"), "2 more warnings");
  EXPECT_EQ(Counted(1, "match", "matches"), "1 match");
  EXPECT_EQ(Counted(4, "match", "matches"), "4 matches");
}

TEST(FileListProblems, DanglingLinksAndUnreadableFoldersAreNamed) {
  if (!test::HasSymbolicLinks)
    GTEST_SKIP() << "this system makes no symbolic links for a test";
  test::TempFolder root("lists");
  const std::string r = root.str();
  root.Touch("a.settings");
  root.Touch("sub/b.settings");
  std::filesystem::create_symlink(root / "gone.settings", root / "sub/link.settings");
  std::filesystem::create_symlink(root / "gone.txt", root / "sub/other.txt"); // not asked for
  std::vector<std::string> names, problems;
  ScanSettingsFiles(r, r + "/", names, &problems);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "sub/b"}));
  EXPECT_EQ(problems, (std::vector<std::string>{r + "/sub/link.settings: the link leads to " + r +
                                                "/gone.settings, which does not exist; left out"}));

  // Permissions hold only for users other than root.
  std::filesystem::create_directories(root / "locked");
  root.Touch("locked/c.settings");
  std::filesystem::permissions(root / "locked", std::filesystem::perms::none);
  if (!std::ifstream(root / "locked/c.settings")) {
    names.clear();
    problems.clear();
    ScanSettingsFiles(r, r + "/", names, &problems);
    EXPECT_EQ(names, (std::vector<std::string>{"a", "sub/b"}));
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0].rfind(r + "/locked/: cannot read the folder (", 0), 0u) << problems[0];
  }
  std::filesystem::permissions(root / "locked", std::filesystem::perms::owner_all);
}

} // namespace
} // namespace quarvel
