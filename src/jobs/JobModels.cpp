// The job's models: each model file loaded once, all of them centred together, and the
// height range of every frame.
#include "common/Error.h"
#include "common/FileLookup.h"
#include "jobs/Manager.h"
#include "models/Geometry.h"
#include "models/MaterialFile.h"
#include "models/ModelLoader.h"
#include "models/OBJFile.h"

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
  const std::string FileName = (sep == std::string::npos ? Name : Name.substr(sep + 1)) + ".obj";

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
  callbacks.OnWarning = [&](const std::string& text) { Warn(text); };
  LoadModelInto(*Models.back(), RootDir, Name, callbacks);
  return index;
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
