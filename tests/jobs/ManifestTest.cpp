// Job manifests: their text both ways, damaged texts, and the hash cache's shortcut.
#include "jobs/Manifest.h"
#include "common/ContentHash.h"
#include "common/Error.h"
#include "jobs/JobTestUtil.h"
#include "platform/Platform.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

using namespace quarvel;
using quarvel::test::TempRoot;

namespace {

TManifest Sample() {
  TManifest m;
  m.Program = "1.0.2";
  m.Options = ManifestOptions(TOutputFormat::KXZ, false);
  m.Fingerprint = std::string(32, 'a');
  m.Inputs.push_back({"/r/units/tank.settings", std::string(32, '1'), 136, 5, 6, 7});
  m.Inputs.push_back({"/r/my models/a b.obj", std::string(32, '2'), 1u << 30, -1, 0, 42});
  m.Probes = {"/r/zbuffer.vglsl"};
  m.Outputs.push_back({"/o/units/tank_0.kxz", std::string(32, 'f'), 98689});
  return m;
}

} // namespace

TEST(ManifestText, RoundTripsAndRefusesWhatIsNotAWholeManifest) {
  const TManifest m = Sample();
  const std::string text = FormatManifest(m);
  std::string why;
  const std::optional<TManifest> back = ParseManifest(text, why);
  ASSERT_TRUE(back) << why;
  EXPECT_EQ(back->Options, "format=kxz half-ambient=0");
  ASSERT_EQ(back->Inputs.size(), 2u);
  EXPECT_EQ(back->Inputs[1].Path, "/r/my models/a b.obj");
  EXPECT_EQ(back->Inputs[1].Size, 1u << 30);
  EXPECT_EQ(back->Inputs[1].MTimeNs, -1);
  EXPECT_EQ(back->Inputs[1].Inode, 42u);
  EXPECT_EQ(back->Probes, m.Probes);
  EXPECT_EQ(back->Outputs[0].Size, 98689u);
  EXPECT_EQ(FormatManifest(*back), text);

  auto without = [&](const std::string& line) {
    std::string t = text;
    t.erase(t.find(line), line.size());
    return t;
  };
  const std::pair<std::string, std::string> damaged[] = {
      {"", "empty"},
      {text.substr(0, text.size() - 4), "cut short"},
      {text + "input x\n", "text after the end"},
      {"quarvel-manifest 2\n" + text.substr(text.find('\n') + 1), "not a quarvel manifest"},
      {without("output " + std::string(32, 'f') + " 98689 /o/units/tank_0.kxz\n"),
       "no inputs or no outputs"},
      {[&] {
         std::string t = text;
         t.replace(t.find(" 136 "), 5, " 1x6 ");
         return t;
       }(),
       "bad input record"},
      {[&] {
         std::string t = text;
         t.replace(t.find("input "), 6, "inptu ");
         return t;
       }(),
       "unexpected"},
  };
  for (const auto& [t, reason] : damaged) {
    SCOPED_TRACE(reason);
    EXPECT_FALSE(ParseManifest(t, why));
    EXPECT_NE(why.find(reason), std::string::npos) << why;
  }
  TManifest bad = m;
  bad.Inputs[0].Path = "a\nb";
  EXPECT_THROW(FormatManifest(bad), Error);
}

TEST(HashCache, TrustsARecordOnlyWhileTheFileIsUntouched) {
  TempRoot tmp("manifest");
  tmp.Write("a.txt", "one");
  const std::string path = tmp / "a.txt";
  THashCache first;
  const std::optional<TInputRecord> record = first.Record(path);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->Hash, HashBytes("one", 3));

  // A record that matches the file's stat is taken as it is (the file is not read).
  TInputRecord vouched = *record;
  vouched.Hash = std::string(32, 'c');
  EXPECT_EQ(THashCache().Record(path, &vouched)->Hash, vouched.Hash);

  // Same size, modification time put back (as some copy tools do): the change time still
  // differs, so the file is read again.
  const std::optional<platform::TFileStatus> before = platform::StatusOf(path);
  ASSERT_TRUE(before);
  tmp.Write("a.txt", "two");
  ASSERT_TRUE(test::SetModificationTime(path, before->MTimeNs));
  EXPECT_EQ(THashCache().Record(path, &vouched)->Hash, HashBytes("two", 3));

  EXPECT_FALSE(THashCache().Record(tmp / "missing.txt"));
  EXPECT_FALSE(THashCache().Hash(tmp.str())); // a folder has no content hash
}
