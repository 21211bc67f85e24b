// What a settings file's user is told: comment lines pass silently, a frame line without
// a file, a model or include that is not there, the bounds of include expansion, the
// count of warnings not shown, and a model's missing material library.
#include "ErrorMessage.h"
#include "common/Error.h"
#include "jobs/JobTestUtil.h"
#include "jobs/Manager.h"

#include <gtest/gtest.h>

#include <functional>

using namespace quarvel;
using quarvel::test::TempRoot;

namespace {

struct Job {
  std::vector<std::string> warned;
  T2P5D_Manager m{nullptr, [this](const std::string& w) { warned.push_back(w); }};
  explicit Job(const TempRoot& root) { m.RootDir = root.str(); }
};

using quarvel::test::Message;

const char* Triangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";

TEST(SettingsMessages, CommentLinesAreSilentOtherIgnoredLinesWarn) {
  TempRoot root;
  const std::string f = root / "c.settings";
  struct TCase {
    const char* Line;
    std::vector<std::string> Warnings;
  };
  const std::vector<TCase> cases = {
      {"# a comment", {}},
      {"   #indented", {}},
      {"; ini style", {}},
      {"// c style", {}},
      {"#", {}},
      {"", {}},
      {" \t ", {}},
      {"rem a comment", {f + ":1: 'rem' is not a keyword; line ignored"}},
      {"/ half", {f + ":1: '/' is not a keyword; line ignored"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Line);
    root.Write("c.settings", std::string(c.Line) + "\nangle 0 0\n");
    Job job(root);
    EXPECT_EQ(Message([&] { job.m.LoadSettings("c"); }), "(no error)");
    EXPECT_EQ(job.warned, c.Warnings);
    EXPECT_EQ(job.m.Angles.size(), 1u);
  }
}

TEST(SettingsMessages, MissingFilesNameTheLineAndTheRoot) {
  TempRoot root;
  const std::string r = root.str();
  root.Write("units/t.obj", Triangle);
  struct TCase {
    const char* Settings;
    std::string Message;
  };
  const std::vector<TCase> cases = {
      {"angle 0 0\nframe 1\n", r + "/units/j.settings:2: frame 1 names no model file"},
      {"frame 2   \n", r + "/units/j.settings:1: frame 2 names no model file"},
      {"angle 0 0\n\nframe 1 units/tank_idle.obj\n",
       r + "/units/j.settings:3: model units/tank_idle.obj not found below " + r +
           "/ (paths are relative to --root)"},
      {"frame 1 %model%_walk.obj\n",
       r + "/units/j.settings:1: model units/j_walk.obj not found below " + r +
           "/ (paths are relative to --root)"},
      {"include common/angles.txt\nframe 1 units/t.obj\n",
       r + "/units/j.settings:1: include common/angles.txt not found below " + r +
           "/ (paths are relative to --root)"},
      {"frame 1 units/t.obj\n", "(no error)"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Settings);
    root.Write("units/j.settings", c.Settings);
    Job job(root);
    EXPECT_EQ(Message([&] { job.m.LoadSettings("units/j"); }), c.Message);
  }
  // The missing file is a MissingInputError, which a front end can give a hint.
  root.Write("units/j.settings", "frame 1 units/gone.obj\n");
  Job job(root);
  EXPECT_THROW(job.m.LoadSettings("units/j"), MissingInputError);
}

TEST(SettingsMessages, ManyIncludesOfAFiniteFileExpand) {
  TempRoot root;
  root.Write("a.txt", "angle 0 90\n");
  std::string many;
  for (int i = 0; i < 3000; ++i)
    many += "include a.txt\n";
  root.Write("many.settings", many);
  Job job(root);
  EXPECT_EQ(Message([&] { job.m.LoadSettings("many"); }), "(no error)");
  ASSERT_EQ(job.m.Angles.size(), 1u);
  EXPECT_EQ(job.m.Angles[0], 90);
  EXPECT_TRUE(job.warned.empty());

  // 3000 x 3000 lines are more than the bound of expanded lines; the message says so.
  std::string lines;
  for (int i = 0; i < 3000; ++i)
    lines += "include b.txt\n";
  root.Write("b.txt", std::string(400, '\n'));
  root.Write("huge.settings", lines);
  EXPECT_EQ(Message([&] { job.m.LoadSettings("huge"); }),
            root / "huge.settings" + ":2493: include expansion grows beyond 1000000 lines");
  // Long lines reach the bound of expanded text first.
  root.Write("c.txt", std::string(9 << 20, 'x') + "\n");
  root.Write("wide.settings", "include c.txt\ninclude c.txt\ninclude c.txt\ninclude c.txt\n"
                              "include c.txt\ninclude c.txt\ninclude c.txt\ninclude c.txt\n");
  EXPECT_EQ(Message([&] { job.m.LoadSettings("wide"); }),
            root / "wide.settings" + ":8: include expansion grows beyond 64 MiB of text");
}

TEST(SettingsMessages, WarningsBeyondTheShownOnesAreCounted) {
  const std::vector<std::pair<size_t, std::string>> cases = {{0, ""},
                                                             {20, ""},
                                                             {21, "and 1 more warning"},
                                                             {22, "and 2 more warnings"},
                                                             {332, "and 312 more warnings"}};
  for (const auto& [total, note] : cases)
    EXPECT_EQ(MoreWarningsNote(total), note) << total;
}

TEST(SettingsMessages, AMissingMaterialLibraryIsAJobWarning) {
  TempRoot root;
  root.Write("units/t.obj", std::string("mtllib t_mats.mtl\n") + Triangle);
  root.Write("j.settings", "angle 0 0\nframe 1 units/t.obj\n");
  Job job(root);
  EXPECT_EQ(Message([&] { job.m.LoadSettings("j"); }), "(no error)");
  EXPECT_EQ(job.warned, (std::vector<std::string>{"units/t.obj:1: material library " +
                                                  root / "units/t_mats.mtl" +
                                                  " not found; faces use the default material"}));
  EXPECT_EQ(job.m.Warnings, job.warned);
}

} // namespace
