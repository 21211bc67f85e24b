// The job's models: each model file loaded once, all of them centred together, and the
// height range of every frame.
#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/Text.h"
#include "jobs/Manager.h"
#include "models/Geometry.h"
#include "models/MaterialFile.h"
#include "models/ModelLoader.h"
#include "models/OBJFile.h"
#include "models/SceneFile.h"

#include <cstdio>

namespace quarvel {

std::vector<std::string> T2P5D_Manager::ModelNames() const {
  std::vector<std::string> names;
  for (const auto& model : Models)
    names.push_back(model->FileName);
  return names;
}

int32_t T2P5D_Manager::LoadModel(const std::string& Name) {
  // Names compare exactly, letter case included: the same file named twice in different
  // cases is loaded twice, like the lists the job was written for.
  for (size_t i = 0; i < Models.size(); ++i)
    if (Models[i]->FileName == Name)
      return static_cast<int32_t>(i);

  // The model joins the list before it is read, so that one that fails to load is still
  // freed with the job.
  Models.push_back(std::make_unique<TOBJFile>(Name));
  const int32_t index = static_cast<int32_t>(Models.size()) - 1;
  const size_t sep = Name.find_last_of("\\/");
  // Shown in progress lines: escaped, as the name comes from the settings file.
  const std::string FileName =
      Printable((sep == std::string::npos ? Name : Name.substr(sep + 1)) + ".obj");

  Report(0, "Loading OBJ [" + FileName + "]");
  int32_t LastPercent = 0;
  TModelLoadCallbacks callbacks;
  callbacks.OnLine = [&](int32_t I, int32_t LineCount) {
    // At most one report per whole percent; the first comes at 1 percent.
    const int32_t P = LinePercent(I, LineCount);
    if (P != LastPercent) {
      LastPercent = P;
      Report(P, "Loading OBJ [" + FileName + "] " + std::to_string(I + 1) + "/" +
                    std::to_string(LineCount));
    }
  };
  callbacks.OnMaterials = [&] { Report(0, "Loading OBJ Material [" + FileName + "]"); };
  callbacks.OnWarning = [this](const std::string& text) { Warn(text); };
  try {
    LoadModelInto(*Models.back(), RootDir, Name, callbacks);
  } catch (const OutsideRoot& e) {
    throw Error(Here(e.what())); // at the frame line that names the model
  }
  return index;
}

void T2P5D_Manager::DecodeTextures(const std::function<void(size_t, const TModelTextures&)>& use) {
  TTextureSet set(TextureLimits);
  for (size_t i = 0; i < Models.size(); ++i) {
    std::vector<std::string> warnings;
    const TModelTextures textures = LoadModelTextures(*Models[i], set, warnings);
    for (const std::string& warning : warnings)
      Warn(warning);
    if (use)
      use(i, textures);
  }
}

const TScene& T2P5D_Manager::SceneFile(const std::string& File) {
  auto found = Scenes.find(File);
  if (found == Scenes.end()) {
    Report(0, "Loading scene [" + Printable(File) + "]");
    std::vector<std::string> warnings;
    std::shared_ptr<const TScene> scene = ReadSceneFile(RootDir, File, warnings);
    for (const std::string& w : warnings)
      Warn(w);
    found = Scenes.emplace(File, std::move(scene)).first;
  }
  return *found->second;
}

int32_t T2P5D_Manager::LoadSceneModel(const std::string& File, const std::string& Clip,
                                      double Seconds) {
  const TScene& scene = SceneFile(File);
  const int32_t clip = Clip.empty() ? -1 : FindClip(scene, Clip);
  // One posed model per file, clip and time; the name says which (info job shows it).
  std::string name = File;
  if (clip >= 0) {
    char time[64];
    std::snprintf(time, sizeof time, "%.9g", Seconds);
    name += " #" + std::to_string(clip) + " @" + time + "s";
  }
  for (size_t i = 0; i < Models.size(); ++i)
    if (Models[i]->FileName == name)
      return static_cast<int32_t>(i);
  Models.push_back(PosedSceneModel(scene, clip, Seconds, name));
  return static_cast<int32_t>(Models.size()) - 1;
}

void T2P5D_Manager::CentreModels() {
  // All models move together, so frames keep their places relative to each other.
  std::vector<TOBJFile*> models;
  for (const auto& model : Models)
    models.push_back(model.get());
  quarvel::CentreModels(models);
}

void T2P5D_Manager::MeasureFrame(TJobFrame& Frame, const TOBJFile& Model) {
  MeasureHeight(Model, Frame.MinY, Frame.MaxY);
}

} // namespace quarvel
