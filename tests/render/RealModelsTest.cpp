// Every model of the shared collection of real OBJ files loads, or fails with an error
// that names the file it comes from. The test prints how many load and how many are
// refused, with each refusal's message, so a change in what the readers take shows.
#include "../gl/GLTestUtil.h"
#include "common/Error.h"
#include "models/ModelLoader.h"
#include "render/GLModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>

namespace quarvel {
namespace {

namespace fs = std::filesystem;

TEST(RealModels, EveryModelLoadsOrFailsClearly) {
  const fs::path root = fs::path(QUARVEL_SHARED_TESTDATA) / "real-obj";
  if (!fs::is_directory(root))
    GTEST_SKIP() << "no shared test data at " << root;
  test::EnsureGLView();
  int loaded = 0;
  int failed = 0;
  std::vector<std::string> loadedNames;
  std::vector<std::string> refusals;
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string ext = entry.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    if (entry.is_regular_file() && ext == ".obj")
      files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    // The model name as the program's lists give it: relative, without the extension.
    fs::path relative = fs::relative(file, root);
    const std::string name = (relative.parent_path() / relative.stem()).generic_string();
    try {
      auto model = LoadOBJModel(root.string(), name, name);
      ASSERT_GE(model->GroupCount(), 1) << name;
      for (const TOBJFaceVertex& c : model->Corners)
        ASSERT_NE(c.NormalIndex, -1) << name;
      TGLModel gl(*model);      // the textures, as a render job makes them
      gl.Draw(TRenderInputs()); // compiles the lists; nothing may go wrong with odd indices
      ++loaded;
      loadedNames.push_back(name);
    } catch (const Error& e) {
      const std::string message = e.what();
      const bool namesAFile =
          message.find(relative.parent_path().generic_string()) != std::string::npos ||
          message.find(relative.filename().string()) != std::string::npos;
      EXPECT_TRUE(namesAFile) << name << ": " << message;
      EXPECT_NE(message.find(": "), std::string::npos) << message;
      ++failed;
      refusals.push_back(message);
    }
    test::ExpectNoGLError(name.c_str());
  }
  EXPECT_GT(loaded, 50) << "most of the collection loads";
  // Models that exporters wrote with "1.5e+3" exponents or "+1" signs load.
  for (const char* name : {"trimesh-obj-edgecases/rabbit",
                           "tinyobjloader-models/models/leading-decimal-dot-issue-201"})
    if (fs::exists(root / (std::string(name) + ".obj"))) {
      EXPECT_NE(std::find(loadedNames.begin(), loadedNames.end(), name), loadedNames.end()) << name;
    }
  std::cout << "real-obj: " << files.size() << " models, " << loaded << " load, " << failed
            << " refused\n";
  for (const std::string& refusal : refusals)
    std::cout << "  refused: " << refusal << "\n";
  RecordProperty("loaded", loaded);
  RecordProperty("failed", failed);
}

} // namespace
} // namespace quarvel
