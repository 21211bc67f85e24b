// Create, Destroy and Clear of the render job, and its built-in materials.
#include "jobs/Manager.h"

#include "models/MaterialFile.h"
#include "models/OBJFile.h"
#include "render/GLModel.h"

namespace quarvel {

T2P5D_Manager::T2P5D_Manager(TProgressCallback OnProgress_, TWarningCallback OnWarning_)
    : OnProgress(std::move(OnProgress_)), JobMaterials(std::make_unique<TOBJMaterialFile>()),
      OnWarning(std::move(OnWarning_)) {
  FillJobMaterials();
}

T2P5D_Manager::~T2P5D_Manager() {
  Clear();
}

void T2P5D_Manager::Clear() {
  Angles.clear();
  GLModels.clear(); // they draw the models: gone first
  Models.clear();
  Scenes.clear();
  Frames.clear();
  Sheets.clear();
  Views.clear();
  WorkView = TAngleSheet{};
  Scale = 1.0L;
  ZMax = 127;
  Warnings.clear();
  WrittenFiles.clear();
}

void T2P5D_Manager::FillJobMaterials() {
  // The side pass binds every face against these two: "side" faces white (grey under the
  // white light), every other named material "default" (orange, black where unlit).
  static const char* const Lines[] = {
      "newmtl default",
      "Ka 0.0 0.0 0.0",
      "Kd 1.0 0.5 0.25",
      "newmtl SIDE",
      "Ns 96.078431",
      "Ka 1.0 1.0 1.0",
      "Kd 1.0 1.0 1.0",
      "Ks 0.500000 0.500000 0.500000",
      "Ke 0.000000 0.000000 0.000000",
      "Ni 1.000000",
      "d 1.000000",
      "illum 2",
  };
  for (const char* line : Lines)
    JobMaterials->ParseLine(line);
}

} // namespace quarvel
