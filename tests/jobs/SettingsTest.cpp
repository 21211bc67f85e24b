// Settings files: line forms, includes, warnings, refusals, model loading and centring.
// Models are loaded without textures, so no GL context is needed here.
#include "ErrorMessage.h"
#include "common/Error.h"
#include "common/FileLookup.h"
#include "jobs/JobTestUtil.h"
#include "jobs/Manager.h"
#include "models/OBJFile.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace quarvel;
using quarvel::test::TempRoot;
namespace fs = std::filesystem;

namespace {

using TReports = std::vector<std::pair<int32_t, std::string>>;

struct Job {
  TReports reports;
  std::vector<std::string> warned;
  T2P5D_Manager m{[this](int32_t p, const std::string& t) { reports.emplace_back(p, t); },
                  [this](const std::string& w) { warned.push_back(w); }};
  explicit Job(const TempRoot& root) { m.RootDir = root.str(); }
};

const char* Triangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n"; // four lines

using quarvel::test::Message;

} // namespace

TEST(Settings, ExampleWithIncludeBuildsTheJobAndReportsLoading) {
  TempRoot root;
  root.Write("units/tank.settings", "scale 1.5\r\nzmax 100\r\ninclude common\\angles4.txt\r\n"
                                    "frame 1 %model%_idle.obj\r\nframe 2 %model%_walk1.obj\r\n"
                                    "frame 3 %model%_walk2.obj\r\nsingleoutput\r\n");
  root.Write("common/angles4.txt", "angle 0 0\nangle 1 90\nangle 2 180\nangle 3 270\n");
  for (const char* m : {"idle", "walk1", "walk2"})
    root.Write(std::string("units/tank_") + m + ".obj", Triangle);

  Job job(root);
  job.m.LoadSettings("units\\tank");
  EXPECT_EQ(job.m.Angles, (std::vector<int32_t>{0, 90, 180, 270}));
  ASSERT_EQ(job.m.Frames.size(), 3u);
  EXPECT_EQ(job.m.ModelNames(), (std::vector<std::string>{"units\\tank_idle", "units\\tank_walk1",
                                                          "units\\tank_walk2"}));
  for (int f = 0; f < 3; ++f)
    EXPECT_EQ(job.m.Frames[f].ModelIndex, f);
  EXPECT_EQ(job.m.Scale, 1.5L);
  EXPECT_EQ(job.m.ZMax, 100);
  EXPECT_TRUE(job.m.SingleOutput);
  EXPECT_TRUE(job.m.Warnings.empty());

  // Four lines: the percentage changes at every line after the first.
  TReports expected = {{0, "Loading"}};
  for (const char* m : {"idle", "walk1", "walk2"}) {
    const std::string f = std::string("tank_") + m + ".obj";
    expected.insert(expected.end(), {{0, "Loading OBJ [" + f + "]"},
                                     {25, "Loading OBJ [" + f + "] 2/4"},
                                     {50, "Loading OBJ [" + f + "] 3/4"},
                                     {75, "Loading OBJ [" + f + "] 4/4"},
                                     {0, "Loading OBJ Material [" + f + "]"}});
  }
  expected.emplace_back(0, "Finished Loading");
  EXPECT_EQ(job.reports, expected);

  // Loading again starts from nothing, but single output stays as it was.
  root.Write("units/tank.settings", "angle 0 5\nframe 1 %model%_idle.obj\n");
  job.m.LoadSettings("units/tank");
  EXPECT_EQ(job.m.Angles, (std::vector<int32_t>{5}));
  EXPECT_EQ(job.m.Frames.size(), 1u);
  EXPECT_EQ(job.m.Models.size(), 1u);
  EXPECT_EQ(job.m.Scale, 1.0L);
  EXPECT_EQ(job.m.ZMax, 127);
  EXPECT_TRUE(job.m.SingleOutput);
}

TEST(Settings, LineFormsSlotsFramesAndModels) {
  TempRoot root;
  root.Write("m.obj", Triangle);
  root.Write("j.settings", "ANGLE 0 10\n"
                           "angle\t1 20\n"      // the keyword is "angle\t1": ignored
                           "  angle 3   90  \n" // slots 1 and 2 stay 0
                           "Frame 1 m.obj\n"
                           "frame 3 M.obj\n" // another name (case), loaded again
                           "frame 4 m.3ds\n" // extension replaced: the first model
                           "frame 5 %MODEL%.obj\n");
  root.Write("j.obj", Triangle);
  Job job(root);
  job.m.LoadSettings("j");
  EXPECT_EQ(job.m.Angles, (std::vector<int32_t>{10, 0, 0, 90}));
  EXPECT_EQ(job.m.ModelNames(), (std::vector<std::string>{"m", "M", "j"}));
  ASSERT_EQ(job.m.Frames.size(), 5u);
  // Frame 2 was never bound: model 0, measured like the others.
  std::vector<int32_t> models;
  for (const TJobFrame& f : job.m.Frames)
    models.push_back(f.ModelIndex);
  EXPECT_EQ(models, (std::vector<int32_t>{0, 0, 1, 0, 2}));
  EXPECT_EQ(job.m.Frames[1].MinY, job.m.Frames[0].MinY);
  ASSERT_EQ(job.m.Warnings.size(), 1u);
  EXPECT_EQ(job.m.Warnings[0],
            root / "j.settings" + ":2: 'angle\\x091' is not a keyword; line ignored");

  // The value table, line by line.
  T2P5D_Manager& m = job.m;
  m.ApplySetting("zmax", "300");
  EXPECT_EQ(m.ZMax, 44);
  m.ApplySetting("zmax", "1000");
  EXPECT_EQ(m.ZMax, 232);
  m.ApplySetting("zmax", "-1");
  EXPECT_EQ(m.ZMax, 255);
  m.ApplySetting("zmax", "lots");
  EXPECT_EQ(m.ZMax, 255);
  m.ApplySetting("scale", "0.5");
  EXPECT_EQ(m.Scale, 0.5L);
  m.ApplySetting("scale", "0,5");
  EXPECT_EQ(m.Scale, 0.5L);
  m.ApplySetting("scale", "0.1");
  EXPECT_EQ(m.Scale, 0.1L); // read in extended precision, not through a double
  m.SingleOutput = false;
  m.ApplySetting("singleoutput", "for all angles");
  EXPECT_TRUE(m.SingleOutput);
  m.ApplySetting("angle", "7");
  EXPECT_EQ(m.Angles.size(), 8u);
  EXPECT_EQ(m.Angles[7], 0);
}

TEST(Settings, EveryIgnoredLineAndDefaultIsAWarningWithFileAndLine) {
  TempRoot root;
  root.Write("t.obj", Triangle);
  root.Write("w.settings", "# a comment\n"
                           "angle 1 90deg\n"
                           "scale 0,5\n"
                           "zmax big\n"
                           "frame x t.obj\n"
                           "include\n"
                           "zmax 300\n"
                           "\n"
                           "singleoutput please\n"
                           "scale 2 3\n");
  Job job(root);
  job.m.LoadSettings("w");
  const std::string f = root / "w.settings";
  const std::vector<std::string> expected = {
      f + ":2: '90deg' is not a valid integer value; 0 degrees taken",
      f + ":3: '0,5' is not a valid floating point value; scale stays 1",
      f + ":4: 'big' is not a valid integer value; zmax stays 127",
      f + ":5: 'x' is not a valid integer value; frame number 1 taken",
      f + ":6: 'include' is not a keyword; line ignored",
      f + ":7: zmax 300 is kept to its low 8 bits: 44",
      f + ":9: extra text 'please' ignored",
      f + ":10: extra text '3' ignored",
  };
  EXPECT_EQ(job.m.Warnings, expected);
  EXPECT_EQ(job.warned, expected); // reported as they arise, too
  EXPECT_EQ(job.m.Angles, (std::vector<int32_t>{0, 0}));
  EXPECT_EQ(job.m.Frames.size(), 1u);
  EXPECT_EQ(job.m.Scale, 2.0L);
}

TEST(Settings, IncludesExpandNestedEmptyAndTextually) {
  TempRoot root;
  // Include names are relative to the root, not to the including file.
  root.Write("jobs/a.settings", "angle 0 1\ninclude inc/one.txt\nangle 9 9\n");
  root.Write("inc/one.txt", "angle 1 2\r\ninclude inc\\two.txt\r\ninclude inc/empty.txt\r\n");
  root.Write("inc/two.txt", "\xEF\xBB\xBF"
                            "angle 2 3\rangle 3 4");
  root.Write("inc/empty.txt", "");
  Job job(root);
  std::vector<std::string> texts;
  for (const TSettingsLine& l : job.m.ExpandSettings(root / "jobs/a.settings"))
    texts.push_back(l.Text);
  EXPECT_EQ(texts, (std::vector<std::string>{"angle 0 1", "angle 1 2", "angle 2 3", "angle 3 4", "",
                                             "", "", "angle 9 9"}));
  const auto lines = job.m.ExpandSettings(root / "jobs/a.settings");
  EXPECT_EQ(lines[3].File, root / "inc/two.txt");
  EXPECT_EQ(lines[3].Line, 2);
  EXPECT_EQ(lines[7].Line, 3);

  // The include line is replaced where its text first occurs in the joined lines: here
  // inside the comment before it, which swallows the first included line; the include
  // line itself is then expanded again.
  root.Write("q.settings", "rem include x.txt\ninclude x.txt\n");
  root.Write("x.txt", "angle 0 5\nangle 1 6\n");
  texts.clear();
  for (const TSettingsLine& l : job.m.ExpandSettings(root / "q.settings"))
    texts.push_back(l.Text);
  EXPECT_EQ(texts, (std::vector<std::string>{"rem angle 0 5", "angle 1 6", "", "angle 0 5",
                                             "angle 1 6", ""}));
}

TEST(Settings, RefusedFilesAndLinesNameTheirPlace) {
  TempRoot root;
  root.Write("t.obj", Triangle);
  root.Write("a.settings", "angle 0 0\ninclude b.txt\n");
  root.Write("b.txt", "\ninclude A.settings\n"); // found as a.settings: the same file
  root.Write("self.settings", "include self.settings\n");
  root.Write("f.settings", "angle 0 0\nframe 0 t.obj\n");
  root.Write("s.settings", "angle -1 0\n");
  root.Write("big.settings", "frame 100000 t.obj\n");
  root.Write("m.settings", "include nothing.txt\n");
  root.Write("o.settings", "frame 1 units/none.obj\n");
  Job job(root);
  const std::string r = root.str();
  // Where the system ignores case, "A.settings" is taken as the name of a new file and the
  // cycle is found one include later (a fault of the Windows build).
  if (test::HasCaseDistinctNames) {
    EXPECT_EQ(Message([&] { job.m.LoadSettings("a"); }), r + "/b.txt:2: include cycle: " + r +
                                                             "/a.settings -> " + r + "/b.txt -> " +
                                                             r + "/a.settings");
  }
  EXPECT_EQ(Message([&] { job.m.LoadSettings("self"); }),
            r + "/self.settings:1: include cycle: " + r + "/self.settings -> " + r +
                "/self.settings");
  EXPECT_EQ(Message([&] { job.m.LoadSettings("f"); }),
            r + "/f.settings:2: frame number 0 is below 1");
  EXPECT_EQ(Message([&] { job.m.LoadSettings("s"); }),
            r + "/s.settings:1: angle slot -1 is negative");
  EXPECT_EQ(Message([&] { job.m.LoadSettings("big"); }),
            r + "/big.settings:1: frame number 100000 is beyond the largest frame number 4096");
  root.Write("wide.settings", "angle 0 0\nangle 4096 90\n");
  EXPECT_EQ(Message([&] { job.m.LoadSettings("wide"); }),
            r + "/wide.settings:2: angle slot 4096 is beyond the largest slot 4095");
  // The largest slot and frame number themselves are taken (each alone: together they make
  // more views than a job may have).
  root.Write("edge.settings", "angle 4095 90\nframe 16 t.obj\n");
  EXPECT_EQ(Message([&] { job.m.LoadSettings("edge"); }), "(no error)");
  EXPECT_EQ(job.m.Angles.size(), 4096u);
  EXPECT_EQ(job.m.Angles.back(), 90);
  root.Write("edge.settings", "angle 15 90\nframe 4096 t.obj\n");
  EXPECT_EQ(Message([&] { job.m.LoadSettings("edge"); }), "(no error)");
  EXPECT_EQ(job.m.Frames.size(), 4096u);
  const std::string missingInclude = Message([&] { job.m.LoadSettings("m"); });
  EXPECT_EQ(missingInclude, r + "/m.settings:1: include nothing.txt not found below " + r +
                                "/ (paths are relative to --root)");
  EXPECT_NE(Message([&] { job.m.LoadSettings("nope"); }).find(r + "/nope.settings"),
            std::string::npos);
  EXPECT_NE(Message([&] { job.m.LoadSettings("o"); }).find("units/none.obj"), std::string::npos);
  // A model file that does not exist is refused before it joins the job.
  EXPECT_EQ(job.m.Models.size(), 0u);
}

TEST(Settings, IncludeExpansionIsBounded) {
  TempRoot root;
  const std::string r = root.str();
  // top.settings includes i1.txt, which includes i2.txt, ... down to i64.txt.
  root.Write("top.settings", "angle 0 0\ninclude i1.txt\n");
  for (int k = 1; k < 64; ++k)
    root.Write("i" + std::to_string(k) + ".txt",
               "angle " + std::to_string(k) + " 0\ninclude i" + std::to_string(k + 1) + ".txt\n");
  root.Write("i64.txt", "angle 64 0\n");
  Job job(root);
  EXPECT_EQ(Message([&] { job.m.LoadSettings("top"); }), "(no error)");
  EXPECT_EQ(job.m.Angles.size(), 65u);
  // One level more is refused at the include that goes too deep.
  root.Write("i64.txt", "angle 64 0\ninclude i65.txt\n");
  root.Write("i65.txt", "angle 65 0\n");
  EXPECT_EQ(Message([&] { job.m.LoadSettings("top"); }),
            r + "/i64.txt:2: include of " + r + "/i65.txt nests deeper than 64 levels");
  // An include named inside an earlier line is replaced there, so here every expansion
  // puts the include back: refused, after a bounded amount of work, at the include line.
  root.Write("grow.settings", "a include g.txt\ninclude g.txt\n");
  root.Write("g.txt", "a include g.txt\n");
  EXPECT_EQ(Message([&] { job.m.LoadSettings("grow"); }),
            r +
                "/grow.settings:2: include expansion does not end: the text of this line also "
                "stands in " +
                r +
                "/g.txt:1, where each expansion puts it back (stopped after 1000 "
                "expansions there)");
  // Includes that only add lines stop at a million of them.
  root.Write("many.settings", std::string("include lines.txt\n") + "include lines.txt\n" +
                                  "include lines.txt\n" + "include lines.txt\n" +
                                  "include lines.txt\n");
  root.Write("lines.txt", std::string(300000, '\n'));
  EXPECT_EQ(Message([&] { job.m.LoadSettings("many"); }),
            r + "/many.settings:4: include expansion grows beyond 1000000 lines");
  // A long chain that comes back to a file is still named as a cycle.
  root.Write("i64.txt", "include i1.txt\n");
  EXPECT_EQ(Message([&] { job.m.LoadSettings("top"); }).rfind(r + "/i64.txt:1: include cycle: ", 0),
            0u);
}

TEST(JobModels, CentresAllModelsTogetherMeasuresFramesAndReportsLines) {
  TempRoot root;
  root.Write("a.obj", "v 0 0 0\nv 1 2 0\n");
  root.Write("b.obj", "v 3 1 0\nv 4 5 0\n");
  root.Write("c.obj", "v -1 -1 -1\nv 1 1 1\n");
  std::string fifty;
  for (int i = 0; i < 50; ++i)
    fifty += "v 0 0 0\n";
  root.Write("fifty.obj", fifty);
  root.Write("pair.settings", "angle 0 0\nframe 1 a.obj\nframe 2 b.obj\n");
  root.Write("centred.settings", "frame 1 c.obj\n");
  root.Write("fifty.settings", "frame 1 fifty.obj\n");

  Job job(root);
  job.m.LoadSettings("pair");
  // Joint box x 0..4, y 0..5: both move by (2, 2.5, 0) and keep their distance.
  TVec3 v;
  job.m.Models[0]->GetVertex(0, v);
  EXPECT_EQ(v.X, -2.0f);
  EXPECT_EQ(v.Y, -2.5f);
  job.m.Models[1]->GetVertex(1, v);
  EXPECT_EQ(v.X, 2.0f);
  EXPECT_EQ(v.Y, 2.5f);
  EXPECT_EQ(job.m.Frames[0].MinY, -2.5f);
  EXPECT_EQ(job.m.Frames[0].MaxY, -0.5f);
  EXPECT_EQ(job.m.Frames[1].MinY, -1.5f);
  EXPECT_EQ(job.m.Frames[1].MaxY, 2.5f);

  job.m.LoadSettings("centred");
  job.m.Models[0]->GetVertex(0, v);
  EXPECT_EQ(v.X, -1.0f);
  EXPECT_EQ(v.Z, -1.0f);

  TJobFrame empty;
  TOBJFile none("none");
  T2P5D_Manager::MeasureFrame(empty, none);
  EXPECT_EQ(empty.MinY, 1e8f);
  EXPECT_EQ(empty.MaxY, -1e8f);

  // 50 lines: percentages 2, 4, ... 98 at lines 2 to 50.
  job.reports.clear();
  job.m.LoadSettings("fifty");
  TReports lines;
  for (const auto& r : job.reports)
    if (r.second.rfind("Loading OBJ [fifty.obj] ", 0) == 0)
      lines.push_back(r);
  ASSERT_EQ(lines.size(), 49u);
  EXPECT_EQ(lines.front(), (std::pair<int32_t, std::string>{2, "Loading OBJ [fifty.obj] 2/50"}));
  EXPECT_EQ(lines[24], (std::pair<int32_t, std::string>{50, "Loading OBJ [fifty.obj] 26/50"}));
  EXPECT_EQ(lines.back(), (std::pair<int32_t, std::string>{98, "Loading OBJ [fifty.obj] 50/50"}));
}

// ---- Hostile settings files ---------------------------------------------------------------

namespace {

struct OutsideAllowed {
  OutsideAllowed() { SetOutsideRootAllowed(true); }
  ~OutsideAllowed() { SetOutsideRootAllowed(false); }
};

bool HasControlByte(const std::string& text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) < 32 || c == 127)
      return true;
  return false;
}

} // namespace

TEST(Settings, IncludesAndModelsOutsideTheRootAreRefusedWithoutReadingThem) {
  if (!test::HasSymbolicLinks)
    GTEST_SKIP() << "this system makes no symbolic links for a test";
  TempRoot outer("outer");
  outer.Write("secret.txt", "root:x:0:0:root:/root:/bin/bash\n");
  const std::string root = outer / "root";
  outer.Write("root/box.obj", Triangle);
  fs::create_symlink(outer / "secret.txt", root + "/passwd.txt");
  fs::create_symlink("/dev/zero", root + "/zero.txt");

  struct Case {
    std::string line;  // line 2 of units/job.settings
    std::string error; // what follows "units/job.settings:2: "
  } cases[] = {
      {"include ../../etc/passwd", "../../etc/passwd is outside the root folder " + root},
      {"include ../secret.txt", "../secret.txt is outside the root folder " + root},
      {"include /etc/hostname", "/etc/hostname is outside the root folder " + root},
      {"include /dev/zero", "/dev/zero is outside the root folder " + root},
      {"include passwd.txt", "passwd.txt is outside the root folder " + root + " (it leads to " +
                                 fs::canonical(outer / "secret.txt").string()},
      {"include zero.txt",
       "zero.txt is outside the root folder " + root + " (it leads to /dev/zero"},
      {"frame 1 ../secret.obj", "../secret.obj is outside the root folder " + root},
      {"frame 1 /etc/passwd", "/etc/passwd.obj is outside the root folder " + root},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    outer.Write("root/units/job.settings", "angle 0 0\n" + c.line + "\n");
    T2P5D_Manager job(nullptr);
    job.RootDir = root;
    const std::string message = Message([&] { job.LoadSettings("units/job"); });
    const std::string where = root + "/units/job.settings:2: ";
    EXPECT_EQ(message.substr(0, where.size() + c.error.size()), where + c.error);
    EXPECT_EQ(message.find("root:x:0"), std::string::npos);
  }
  // The settings file itself, named by a path that climbs out, likewise.
  T2P5D_Manager job(nullptr);
  job.RootDir = root + "/units";
  EXPECT_EQ(Message([&] {
              job.LoadSettings("../../secret");
            }).rfind("../../secret.settings is outside the root folder", 0),
            0u);
}

TEST(Settings, LiftedRootRuleStillReadsOnlyRegularFilesWithinTheCap) {
  if (!test::HasSymbolicLinks)
    GTEST_SKIP() << "this system makes no symbolic links for a test";
  TempRoot root;
  fs::create_symlink("/dev/zero", root / "zero.txt");
  const std::string big = root / "big.txt";
  { std::ofstream(big, std::ios::binary).put('x'); }
  fs::resize_file(big, (uint64_t{16} << 20) + 1);
  OutsideAllowed allowed;
  struct Case {
    const char* line;
    std::string error;
  } cases[] = {
      {"include /dev/zero", "/dev/zero: is not a regular file"},
      {"include zero.txt", root / "zero.txt: is not a regular file"},
      {"include big.txt",
       root / "big.txt: is 16777217 bytes, more than the 16 MiB a settings file may have"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    root.Write("job.settings", std::string(c.line) + "\n");
    T2P5D_Manager job(nullptr);
    job.RootDir = root.str();
    const std::string where = root / "job.settings:1: ";
    const std::string message = Message([&] { job.LoadSettings("job"); });
    EXPECT_EQ(message.substr(0, where.size() + c.error.size()), where + c.error);
  }
}

TEST(Settings, WarningsQuoteInputEscapedAndCut) {
  TempRoot root;
  const std::string longWord(1 << 20, 'w');
  struct Case {
    std::string line;
    std::string quoted; // what the warning must hold
  } cases[] = {
      {"red\x07\x1b[31mred", "'red\\x07\\x1b[31mred' is not a keyword"},
      {longWord, "'" + std::string(80, 'w') + "...' is not a keyword"},
      {"angle 1 9\x1b[2J", "'9\\x1b[2J' is not a valid integer value"},
      {"scale 2 \xfe\xff", "extra text '\\xfe\\xff' ignored"},
      {"zmax 1\x7f", "'1\\x7f' is not a valid integer value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.quoted);
    root.Write("job.settings", c.line + "\n");
    Job job(root);
    job.m.LoadSettings("job");
    ASSERT_EQ(job.warned.size(), 1u);
    const std::string& w = job.warned[0];
    EXPECT_NE(w.find(c.quoted), std::string::npos) << w;
    EXPECT_FALSE(HasControlByte(w)) << w;
    EXPECT_LT(w.size(), root.str().size() + 200) << "a 1 MB word must not become a 1 MB line";
  }
}

TEST(Settings, AnglesTimesFramesIsCappedAtTheLineThatCrossesIt) {
  TempRoot root;
  root.Write("box.obj", Triangle);
  struct Case {
    std::string text;
    std::string error; // "" = loads
  } cases[] = {
      {"angle 4095 0\nframe 16 box.obj\n", ""}, // 4096 x 16 = 65536: the most allowed
      {"angle 4095 0\nframe 17 box.obj\n",
       "job.settings:2: frame number 17 makes 4096 angles x 17 frames = 69632 views, more "
       "than the 65536 one job may render"},
      {"frame 4096 box.obj\nangle 15 0\nangle 16 0\n",
       "job.settings:3: angle slot 16 makes 17 angles x 4096 frames = 69632 views, more than "
       "the 65536 one job may render"},
      {"frame 4096 box.obj\nangle 4095 0\n",
       "job.settings:2: angle slot 4095 makes 4096 angles x 4096 frames = 16777216 views"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    root.Write("job.settings", c.text);
    T2P5D_Manager job(nullptr);
    job.RootDir = root.str();
    const std::string message = Message([&] { job.LoadSettings("job"); });
    if (c.error.empty()) {
      EXPECT_EQ(message, "(no error)");
    } else {
      const std::string expected = root / c.error;
      EXPECT_EQ(message.substr(0, expected.size()), expected);
    }
  }
}
