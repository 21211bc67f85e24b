// The model, settings and background lists built from a program folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/FileLists.h"
#include "support/TestSystem.h"

namespace quarvel {
namespace {
namespace fs = std::filesystem;

class FileListsTest : public ::testing::Test {
protected:
  void SetUp() override {
    Root = fs::temp_directory_path() /
           ("quarvel_lists_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Root);
    fs::create_directories(Root);
  }
  void TearDown() override { fs::remove_all(Root); }
  void Touch(const std::string& rel) {
    fs::create_directories((Root / rel).parent_path());
    std::ofstream(Root / rel) << "x";
  }
  std::string Dir() const { return Root.string(); }
  fs::path Root;
};

TEST_F(FileListsTest, ModelsAndSettingsBelowTheProgramFolder) {
  Touch("models/a.OBJ");
  Touch("models/sub/b.obj");
  Touch("models/c.objx");
  Touch("models/notes.txt");
  fs::create_directories(Root / "x.obj");
  Touch("x.obj/inner.obj");
  Touch("abc.settings");
  Touch("abc.settingsx");
  Touch("jobs/Tank.SETTINGS");
  Touch("top.obj");

  std::vector<std::string> models;
  ScanModelFiles(Dir(), Dir() + "/", models);
  // Depth first, folders where their names fall.
  EXPECT_EQ(models, (std::vector<std::string>{"models/a", "models/sub/b", "top", "x.obj/inner"}));

  std::vector<std::string> settings;
  ScanSettingsFiles(Dir(), Dir() + "/", settings);
  EXPECT_EQ(settings, (std::vector<std::string>{"abc", "jobs/Tank"}));
}

TEST_F(FileListsTest, LinkLoopsAndMissingFoldersEndTheScan) {
  if (!test::HasSymbolicLinks)
    GTEST_SKIP() << "this system makes no symbolic links for a test";
  Touch("m/a.obj");
  fs::create_directory_symlink(Root / "m", Root / "m" / "loop");
  fs::create_symlink(Root / "m" / "a.obj", Root / "m" / "link.obj");
  std::vector<std::string> models;
  ScanModelFiles(Dir(), Dir() + "/", models);
  EXPECT_EQ(models, (std::vector<std::string>{"m/a", "m/link"}));

  std::vector<std::string> none;
  ScanModelFiles(Dir(), Dir() + "/missing/", none);
  EXPECT_TRUE(none.empty());
}

TEST_F(FileListsTest, RelativeNames) {
  EXPECT_EQ(RelativeName("/p", "/p/cars/truck.obj", 4), "cars/truck");
  EXPECT_EQ(RelativeName("/p", "/p/abc.settings", 9), "abc");
  EXPECT_EQ(RelativeName("/p", "/p/a", 4), "");
}

TEST_F(FileListsTest, Backgrounds) {
  EXPECT_TRUE(ListBackgrounds(Dir()).empty());
  Touch("background.png");
  EXPECT_EQ(ListBackgrounds(Dir()), (std::vector<std::string>{"background"}));
  Touch("background2.png");
  Touch("Background_sky.PNG");
  Touch("background3.jpg");
  Touch("mybackground.png");
  fs::create_directories(Root / "backgroundDir.png");
  EXPECT_EQ(ListBackgrounds(Dir()),
            (std::vector<std::string>{"background", "background2", "Background_sky"}));
}

} // namespace
} // namespace quarvel
