// quarvel-cli info model NAME [--root DIR] [--json]
//
// Loads a model as a render job would (without a GL context: textures are decoded as a
// render decodes them, not made into GL textures) and prints what a user checks before rendering
// it: counts, groups, materials and the texture each one finds, faces without a material, faces of
// the material "side", the bounding box as read, and the scale and MaxZ the preview picks.
#include "cli/CmdInfo.h"
#include "cli/Command.h"
#include "cli/InputOptions.h"
#include "common/FileLookup.h"
#include "common/Text.h"
#include "jobs/JobRunner.h"
#include "models/Geometry.h"
#include "models/ModelLoader.h"
#include "models/SceneFile.h"
#include "models/SceneFormats.h"
#include "models/TextureFiles.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace quarvel::cli {

namespace {

struct TModelReport {
  std::string ObjPath;
  std::string MaterialPath;
  bool MaterialFound = false;
  int64_t Vertices = 0, Normals = 0, GeneratedNormals = 0, TexCoords = 0, Faces = 0;
  struct Group {
    std::string Name;
    int64_t Faces;
  };
  std::vector<Group> Groups;
  struct Material {
    std::string Name;
    TVec3 Ka, Kd;
    std::string MapKd;
    std::optional<std::string> Texture;
  };
  std::vector<Material> Materials;
  int64_t FacesWithoutMaterial = 0;
  int64_t SideFaces = 0;
  bool HasBounds = false;
  TVec3 Min, Max;
  TPreviewFit Fit;
  // Scene files only: their clips, their skin, and what could not be used.
  bool IsScene = false;
  struct Clip {
    std::string Name;
    double Duration;
    int64_t Channels;
  };
  std::vector<Clip> Clips;
  int64_t Bones = 0;
  int64_t MostWeights = 0;
  std::vector<std::string> Warnings;
};

// The path as found on disk, shown relative to the root when it lies below it.
std::string Shown(const std::string& rootDir, const std::string& path) {
  std::string shown = NormaliseSeparators(FindPath(path).value_or(path));
  for (size_t at = shown.find("/./"); at != std::string::npos; at = shown.find("/./"))
    shown.erase(at, 2);
  const std::string prefix = JoinPath(rootDir, "");
  if (!rootDir.empty() && shown.compare(0, prefix.size(), prefix) == 0)
    shown.erase(0, prefix.size());
  return shown;
}

TModelReport Inspect(const std::string& rootDir, const std::string& name,
                     long long maxTexturePixels) {
  TModelReport r;
  std::unique_ptr<TOBJFile> model;
  if (IsSceneFileName(name)) {
    // A scene file is shown in its rest pose, as the preview shows it.
    r.IsScene = true;
    const auto scene = ReadSceneFile(rootDir, name, r.Warnings);
    model = PosedSceneModel(*scene, -1, 0.0, name);
    r.ObjPath = NormaliseSeparators(name);
    r.MaterialPath = "(in the scene file)";
    r.MaterialFound = true;
    for (const TSceneClip& c : scene->Clips)
      r.Clips.push_back({c.Name, c.Duration, static_cast<int64_t>(c.Channels.size())});
    std::set<std::string> bones;
    for (const TSceneMesh& m : scene->Meshes) {
      for (const TSceneBone& b : m.Bones)
        bones.insert(b.Name);
      r.MostWeights = std::max<int64_t>(r.MostWeights, m.MostWeights);
    }
    r.Bones = static_cast<int64_t>(bones.size());
  } else {
    TModelLoadCallbacks callbacks;
    callbacks.OnWarning = [&r](const std::string& text) { r.Warnings.push_back(text); };
    model = LoadOBJModel(rootDir, name, name, callbacks);
    r.ObjPath = Shown(rootDir, ModelOBJPath(rootDir, name));
    const std::string mtl = ModelMaterialPath(rootDir, name, model->MaterialLibName);
    r.MaterialFound = FileExists(mtl);
    r.MaterialPath = Shown(rootDir, mtl);
  }
  // The textures decoded as a render decodes them, for the same warnings.
  TTextureLimits limits;
  limits.MaxPixels = maxTexturePixels;
  TTextureSet textures(limits);
  LoadModelTextures(*model, textures, r.Warnings);
  r.Vertices = model->VertexCount();
  r.Normals = model->NormalCount();
  r.GeneratedNormals = model->GeneratedNormalCount;
  r.TexCoords = static_cast<int64_t>(model->TexCoords.size());
  r.Faces = model->TotalFaceCount();
  for (const TOBJGroup& g : model->Groups)
    r.Groups.push_back({g.Name, static_cast<int64_t>(g.Faces.size())});
  if (model->MaterialFile) {
    for (const TOBJMaterial& m : model->MaterialFile->Materials) {
      TModelReport::Material out{m.Name, m.Ka, m.Kd, m.MapKd, std::nullopt};
      std::string file = m.MapKd;
      if (m.Texture != nullptr)
        out.Texture = "decoded " + std::to_string(m.Texture->Width) + " x " +
                      std::to_string(m.Texture->Height) + " pixels";
      else if (!file.empty() && FindTextureFile(model->TextureDir, file))
        out.Texture = Shown(rootDir, JoinPath(model->TextureDir, file));
      r.Materials.push_back(std::move(out));
    }
  }
  for (const TOBJGroup& g : model->Groups) {
    for (const TOBJFace& f : g.Faces) {
      if (f.MaterialIndex == -1)
        ++r.FacesWithoutMaterial;
      if (model->FaceMaterialName(f) == "side")
        ++r.SideFaces;
    }
  }
  if (!model->Vertices.empty()) {
    r.HasBounds = true;
    r.Min = r.Max = model->Vertices.front();
    for (const TVec3& v : model->Vertices) {
      r.Min = Vec3(std::min(r.Min.X, v.X), std::min(r.Min.Y, v.Y), std::min(r.Min.Z, v.Z));
      r.Max = Vec3(std::max(r.Max.X, v.X), std::max(r.Max.Y, v.Y), std::max(r.Max.Z, v.Z));
    }
  }
  r.Fit = PreviewFitFor(*model);
  return r;
}

// Up to 15 significant digits, "." as separator: how the program shows numbers.
std::string Num(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", value);
  return text;
}

std::string Triple(const TVec3& v) {
  return "(" + Num(v.X) + ", " + Num(v.Y) + ", " + Num(v.Z) + ")";
}

nlohmann::json JsonTriple(const TVec3& v) {
  return nlohmann::json::array({double(v.X), double(v.Y), double(v.Z)});
}

void PrintJson(const TModelReport& r) {
  nlohmann::json j;
  j["vertices"] = r.Vertices;
  j["normals"] = r.Normals;
  j["texcoords"] = r.TexCoords;
  j["faces"] = r.Faces;
  j["groups"] = nlohmann::json::array();
  for (const auto& g : r.Groups)
    j["groups"].push_back({{"name", g.Name}, {"faces", g.Faces}});
  j["materials"] = nlohmann::json::array();
  for (const auto& m : r.Materials) {
    nlohmann::json mj = {
        {"name", m.Name}, {"ka", JsonTriple(m.Ka)}, {"kd", JsonTriple(m.Kd)}, {"map_kd", m.MapKd}};
    mj["texture"] = m.Texture ? nlohmann::json(*m.Texture) : nlohmann::json(nullptr);
    j["materials"].push_back(mj);
  }
  j["faces_without_material"] = r.FacesWithoutMaterial;
  j["side_faces"] = r.SideFaces;
  if (r.HasBounds)
    j["bounds"] = {{"min", JsonTriple(r.Min)}, {"max", JsonTriple(r.Max)}};
  else
    j["bounds"] = nullptr;
  j["preview_scale"] = double(r.Fit.Scale);
  j["preview_maxz"] = r.Fit.MaxZ;
  j["warnings"] = r.Warnings;
  if (r.IsScene) {
    j["clips"] = nlohmann::json::array();
    for (const auto& c : r.Clips)
      j["clips"].push_back({{"name", c.Name}, {"duration", c.Duration}, {"channels", c.Channels}});
    j["skin"] = {{"bones", r.Bones}, {"most_weights", r.MostWeights}};
  }
  // Names come from the files as bytes; invalid UTF-8 is shown with replacement marks.
  std::cout << j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

void PrintText(const TModelReport& r) {
  // Names of groups, materials and textures are the files' own bytes.
  std::ostringstream out;
  out << "Model: " << r.ObjPath << "\n";
  out << "Vertices: " << r.Vertices << "\n";
  out << "Normals: " << r.Normals << " (" << (r.Normals - r.GeneratedNormals) << " read, "
      << r.GeneratedNormals << " generated)\n";
  out << "Texture coordinates: " << r.TexCoords << "\n";
  out << "Faces: " << r.Faces << "\n";
  out << "Groups: " << r.Groups.size() << "\n";
  for (const auto& g : r.Groups)
    out << "  " << g.Name << ": " << Counted(g.Faces, "face") << "\n";
  out << "Material library: " << r.MaterialPath
      << (r.MaterialFound ? "" : " (not found, faces use the default material)") << "\n";
  out << "Materials: " << r.Materials.size() << "\n";
  for (const auto& m : r.Materials) {
    out << "  " << m.Name << ": Ka " << Triple(m.Ka) << ", Kd " << Triple(m.Kd);
    if (m.MapKd.empty())
      out << ", no texture";
    else if (m.Texture)
      out << ", texture " << m.MapKd << " -> " << *m.Texture;
    else
      out << ", texture " << m.MapKd << " -> not found (drawn without texture)";
    out << "\n";
  }
  out << "Faces without material: " << r.FacesWithoutMaterial << "\n";
  out << "Faces with material \"side\": " << r.SideFaces << "\n";
  if (r.HasBounds)
    out << "Bounds: min " << Triple(r.Min) << ", max " << Triple(r.Max) << "\n";
  else
    out << "Bounds: none (no vertices)\n";
  out << "Preview: scale " << Num(r.Fit.Scale) << ", MaxZ " << r.Fit.MaxZ << "\n";
  if (r.IsScene) {
    out << "Clips: " << r.Clips.size() << "\n";
    for (size_t i = 0; i < r.Clips.size(); ++i)
      out << "  #" << i << " " << Quoted(r.Clips[i].Name) << ": " << Num(r.Clips[i].Duration)
          << " s, " << r.Clips[i].Channels << " channels\n";
    out << "Skin: " << r.Bones << " bones, at most " << r.MostWeights << " weights on a vertex\n";
  }
  out << "Warnings: " << r.Warnings.size() << "\n";
  for (const std::string& w : r.Warnings)
    out << "  " << w << "\n";
  std::cout << ForTerminal(out.str()) << std::flush;
}

struct TInfoModelArgs {
  std::string Name;
  std::string Root = ".";
  bool Json = false;
  TInputOptions Input;
};

RegisterCommand reg("info model", [](CLI::App& app) {
  auto args = std::make_shared<TInfoModelArgs>();
  CLI::App* sub = InfoCommand(app)->add_subcommand(
      "model", "Load a model and print its counts, groups, materials, bounds and preview scale.");
  sub->add_option("name", args->Name,
                  "Model name relative to the root, without \".obj\" (units\\tank or units/tank); "
                  "a path ending in \".obj\" is accepted too, like render's settings paths; "
                  "a scene file with its extension (units/walker.gltf)")
      ->required();
  sub->add_option("--root", args->Root, "Folder the model names are relative to")
      ->capture_default_str();
  sub->add_flag("--json", args->Json, "Print one JSON object");
  args->Input.AddTo(sub);
  sub->callback([args] {
    args->Input.Apply();
    // A name typed with its extension is taken as the model it names, and a path to the
    // file relative to the current folder as the model's name below the root, the forms
    // `render` takes for its settings files. A scene file keeps its extension.
    const std::string name =
        IsSceneFileName(args->Name) ? args->Name : NameFromArgument(args->Root, args->Name, ".obj");
    const TModelReport report = Inspect(args->Root, name, args->Input.MaxTexturePixels);
    if (args->Json)
      PrintJson(report);
    else
      PrintText(report);
    SetExitCode(0);
  });
});

} // namespace

} // namespace quarvel::cli
