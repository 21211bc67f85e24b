#include "harness/FuzzEntry.h"

#include "common/Error.h"
#include "harness/FuzzSupport.h"
#include "models/Geometry.h"
#include "models/ModelLoader.h"

#include <cstdlib>
#include <string_view>

namespace quarvel {

namespace {} // namespace

int FuzzOBJText(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // The same bytes also serve as the model's library, so that names can meet.
  auto materials = std::make_unique<TOBJMaterialFile>();
  try {
    ForEachTrimmedLine(text, [&](std::string_view line, int32_t) { materials->ParseLine(line); });
  } catch (const Error&) {
  }
  TOBJFile model;
  try {
    ForEachTrimmedLine(text, [&](std::string_view line, int32_t) { model.ParseLine(line); });
  } catch (const Error&) {
  }
  model.SetMaterialFile(std::move(materials));
  model.FinishLoading();
  FuzzCheck(model.GroupCount() >= 1);
  const auto materialCount = model.MaterialFile->Count();
  for (const TOBJGroup& group : model.Groups) {
    FuzzCheck(group.FaceCount <= TOBJFile::MaxGroupFaces);
    FuzzCheck(group.FaceCount == -1 || group.FaceCount == static_cast<int32_t>(group.Faces.size()));
    for (const TOBJFace& face : group.Faces) {
      FuzzCheck(face.MaterialIndex >= -1 && face.MaterialIndex < materialCount);
      const TOBJFaceVertex* corners = model.FaceCorners(face);
      for (int32_t k = 0; k < face.CornerCount; ++k)
        FuzzCheck(corners[k].NormalIndex != -1);
    }
  }
  TVec3 v;
  model.GetVertex(model.VertexCount(), v);
  FuzzCheck(v.X == 0.0f && v.Y == 0.0f && v.Z == 0.0f);
  (void)PreviewFitFor(model);
  return 0;
}

int FuzzMTLText(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TOBJMaterialFile materials;
  try {
    ForEachTrimmedLine(text, [&](std::string_view line, int32_t) { materials.ParseLine(line); });
  } catch (const Error&) {
  }
  const int32_t def = materials.IndexOf("default");
  FuzzCheck(def >= -1 && def < materials.Count());
  for (const TOBJMaterial& m : materials.Materials) {
    const int32_t found = materials.IndexOf(m.Name);
    FuzzCheck(found >= 0 && found < materials.Count());
    FuzzCheck(materials.Materials[static_cast<size_t>(found)].Name == m.Name);
  }
  TOBJMaterial probe;
  probe.Name = "unchanged";
  materials.GetMaterial(materials.Count(), probe);
  FuzzCheck(probe.Name == "unchanged");
  return 0;
}

} // namespace quarvel
