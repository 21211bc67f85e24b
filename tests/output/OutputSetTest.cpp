#include "output/OutputSet.h"

#include "common/Error.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace quarvel {
namespace {

constexpr TOutputFormat Raw = TOutputFormat::Raw2P5D;
constexpr TOutputFormat KXZ = TOutputFormat::KXZ;

TEST(OutputSet, EachFormatNamesItsFilesAngleByAngle) {
  struct Case {
    TOutputFormat Format;
    const char* Word;
    const char* Title;
    const char* OutputDir;
    const char* Job;
    int32_t Angles;
    std::vector<std::string> Files;
  };
  const Case cases[] = {
      {KXZ,
       "kxz",
       "KXZ",
       "out",
       "units\\tank",
       2,
       {"out/units/tank_0.kxz", "out/units/tank_0.p16", "out/units/tank_1.kxz",
        "out/units/tank_1.p16"}},
      {Raw, "2p5d", "2P5D", "", "tank", 3, {"tank_0.2p5d", "tank_1.2p5d", "tank_2.2p5d"}},
      {KXZ, "kxz", "KXZ", "out/", "tank.v2", 1, {"out/tank.v2_0.kxz", "out/tank.v2_0.p16"}},
      {Raw, "2p5d", "2P5D", "out", "tank", 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Word) + " " + c.Job);
    EXPECT_EQ(FormatWord(c.Format), c.Word);
    EXPECT_EQ(FormatTitle(c.Format), c.Title);
    EXPECT_EQ(FormatFromWord(c.Word), c.Format);
    const TOutputSet set(c.Format, c.OutputDir, c.Job, c.Angles);
    EXPECT_EQ(set.FileNames(), c.Files);
    for (const TOutputFile& file : set.Files()) {
      EXPECT_EQ(set.SpriteName(file.Angle), set.FilesOfAngle(file.Angle).front().Name);
      const std::optional<TOutputName> read = set.Recognise(file.Name);
      ASSERT_TRUE(read) << file.Name;
      EXPECT_EQ(read->Angle, file.Angle);
      EXPECT_EQ(read->Kind, file.Kind);
      EXPECT_TRUE(set.IsFileOfFormat(file.Name));
    }
  }
  EXPECT_THROW(FormatFromWord("gif"), Error);
  EXPECT_THROW(FormatFromWord("KXZ"), Error); // the command line lowers the case first
}

TEST(OutputSet, ReadsBackOnlyNamesAnOutputSetWrites) {
  // The KXZ set of "units/tank" below "out", two angles.
  const TOutputSet set(KXZ, "out", "units/tank", 2);
  struct Case {
    const char* Name;
    int32_t Angle; // -1: not an output name
    TOutputFormat Format;
    TOutputKind Kind;
  };
  const Case cases[] = {
      {"out/units/tank_0.kxz", 0, KXZ, TOutputKind::KXZContainer},
      {"out/units/tank_1.p16", 1, KXZ, TOutputKind::Palette16},
      {"out/units/tank_5.kxz", 5, KXZ, TOutputKind::KXZContainer}, // an earlier render's
      {"out/units/tank_3.2p5d", 3, Raw, TOutputKind::Sheet2P5D},   // the other format's
      {"out/units/tank_2147483647.kxz", 2147483647, KXZ, TOutputKind::KXZContainer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::optional<TOutputName> read = set.Recognise(c.Name);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->Angle, c.Angle);
    EXPECT_EQ(read->Format, c.Format);
    EXPECT_EQ(read->Kind, c.Kind);
    EXPECT_EQ(set.IsFileOfFormat(c.Name), c.Format == KXZ);
  }
  // Names no render writes (angles out of an int32_t's range or not as std::to_string
  // writes them, other extensions or case, other jobs and folders) are not outputs.
  for (const char* name :
       {"out/units/tank_2147483648.kxz", "out/units/tank_07.kxz", "out/units/tank_00.p16",
        "out/units/tank_+1.kxz", "out/units/tank_-1.kxz", "out/units/tank_.kxz",
        "out/units/tank_1x.kxz", "out/units/tank_1.KXZ", "out/units/tank_1.kxz.bak",
        "out/units/tank_0.colour.png", "out/units/tank_1", "out/units/tanker_1.kxz",
        "out/units/big_tank_1.kxz", "units/tank_1.kxz", "tank_1.kxz"}) {
    EXPECT_FALSE(set.Recognise(name)) << name;
    EXPECT_FALSE(set.IsFileOfFormat(name)) << name;
  }
  // A name listed in the set's folder is read without the folder.
  ASSERT_TRUE(set.RecogniseInFolder("tank_4.p16"));
  EXPECT_EQ(set.RecogniseInFolder("tank_4.p16")->Angle, 4);
  EXPECT_FALSE(set.RecogniseInFolder("out/units/tank_4.p16"));
  EXPECT_FALSE(set.RecogniseInFolder("tank_04.p16"));
}

} // namespace
} // namespace quarvel
