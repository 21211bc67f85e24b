// The job's models: each model file loaded once, all of them centred together, and the
// height range of every frame; plus the manager's creation and clearing, which own them.
#include "common/Error.h"
#include "common/FileLookup.h"
#include "jobs/Manager.h"
#include "models/MaterialFile.h"
#include "models/ModelLoader.h"
#include "models/OBJFile.h"

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
  Models.clear();
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
  JobMaterials->LoadTextures(); // finds none; kept so the library is complete like any other
}

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
  TModelLoadOptions options;
  options.LoadTextures = LoadTextures;
  LoadModelInto(*Models.back(), RootDir, Name, callbacks, options);
  return index;
}

void T2P5D_Manager::CentreModels() {
  float MaxX = -1e8f, MaxY = -1e8f, MaxZ = -1e8f;
  float MinX = 1e8f, MinY = 1e8f, MinZ = 1e8f;
  for (const auto& model : Models)
    for (const TVec3& v : model->Vertices) {
      if (v.X > MaxX)
        MaxX = v.X;
      if (v.Y > MaxY)
        MaxY = v.Y;
      if (v.Z > MaxZ)
        MaxZ = v.Z;
      if (v.X < MinX)
        MinX = v.X;
      if (v.Y < MinY)
        MinY = v.Y;
      if (v.Z < MinZ)
        MinZ = v.Z;
    }
  // Single floats throughout, like the vertices themselves.
  const TVec3 Half = Vec3((MaxX - MinX) / 2, (MaxY - MinY) / 2, (MaxZ - MinZ) / 2);
  const TVec3 Centre = Vec3(MinX + Half.X, MinY + Half.Y, MinZ + Half.Z);
  if (Centre.X == 0 && Centre.Y == 0 && Centre.Z == 0)
    return;
  // All models move together, so frames keep their places relative to each other.
  for (const auto& model : Models)
    for (int32_t i = 0; i < model->VertexCount(); ++i) {
      TVec3 v;
      model->GetVertex(i, v);
      model->SetVertex(i, Vec3(v.X - Centre.X, v.Y - Centre.Y, v.Z - Centre.Z));
    }
}

void T2P5D_Manager::MeasureFrame(TJobFrame& Frame, const TOBJFile& Model) {
  Frame.MinY = 1e8f;
  Frame.MaxY = -1e8f;
  for (const TVec3& v : Model.Vertices) {
    if (v.Y > Frame.MaxY)
      Frame.MaxY = v.Y;
    if (v.Y < Frame.MinY)
      Frame.MinY = v.Y;
  }
}

} // namespace quarvel
