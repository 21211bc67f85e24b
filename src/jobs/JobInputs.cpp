#include "jobs/JobInputs.h"

#include "common/FileLookup.h"
#include "common/Path.h"
#include "models/MaterialFile.h"
#include "models/ModelLoader.h"
#include "models/OBJFile.h"
#include "models/Scene.h"
#include "output/OutputSet.h"
#include "platform/Platform.h"

#include <algorithm>
#include <filesystem>

namespace quarvel {

namespace {

const char* const ShaderPrograms[] = {"zbuffer", "zbufferEx", "sidecol"};

// Appends `path` (found through the file lookup) unless it is there already.
void AddOnce(std::vector<std::string>& list, const std::string& path) {
  const std::string found = ResolvePath(path);
  if (std::find(list.begin(), list.end(), found) == list.end())
    list.push_back(found);
}

std::string InstalledShaderFolder() {
  const std::string exe = platform::ProgramPath();
  if (exe.empty())
    return std::string();
  const std::filesystem::path bin = PathOf(exe);
  return Utf8Of(bin.parent_path().parent_path() / "share" / "quarvel");
}

bool HoldsShaders(const std::string& folder) {
  std::vector<std::string> read, absent;
  ShaderFilesIn(folder, read, absent);
  return !read.empty();
}

} // namespace

void ShaderFilesIn(const std::string& folder, std::vector<std::string>& read,
                   std::vector<std::string>& absent) {
  for (const char* program : ShaderPrograms) {
    const std::string base = JoinPath(folder.empty() ? "." : folder, program);
    const std::string vertex = base + ".vglsl", fragment = base + ".fglsl";
    const bool haveVertex = FileExists(vertex), haveFragment = FileExists(fragment);
    if (haveVertex && haveFragment) {
      AddOnce(read, vertex);
      AddOnce(read, fragment);
      continue;
    }
    if (!haveVertex)
      absent.push_back(vertex);
    if (!haveFragment)
      absent.push_back(fragment);
  }
}

std::string ShaderFolder(const std::string& rootDir) {
  const std::string root = rootDir.empty() ? "." : rootDir;
  if (HoldsShaders(root))
    return root;
  const std::string installed = InstalledShaderFolder();
  if (!installed.empty() && HoldsShaders(installed))
    return installed;
  return root;
}

std::string ManifestName(const TJobOptions& options, const std::string& name) {
  const std::string n = NormaliseSeparators(name);
  const size_t slash = n.find_last_of('/');
  const std::string dir = slash == std::string::npos ? std::string() : n.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? n : n.substr(slash + 1);
  return JoinPath(options.OutputDir, dir + "." + base + ".manifest");
}

TJobFiles JobFilesOf(const T2P5D_Manager& job, const TJobOptions& options) {
  TJobFiles files;
  files.Name = job.SettingsName;
  for (const std::string& f : job.SettingsFilesRead)
    AddOnce(files.Inputs, f);

  const std::string root = options.RootDir.empty() ? "." : options.RootDir;
  // Frames posed from scene files depend on what reading the scene read.
  std::vector<bool> fromScene(job.Models.size(), false);
  for (const TJobFrame& frame : job.Frames) {
    const auto scene = job.Scenes.find(frame.Source.File);
    if (scene == job.Scenes.end())
      continue;
    if (frame.ModelIndex >= 0 && static_cast<size_t>(frame.ModelIndex) < fromScene.size())
      fromScene[static_cast<size_t>(frame.ModelIndex)] = true;
    for (const std::string& f : scene->second->FilesRead)
      AddOnce(files.Inputs, f);
  }
  for (size_t m = 0; m < job.Models.size(); ++m) {
    if (fromScene[m])
      continue;
    const auto& model = job.Models[m];
    AddOnce(files.Inputs, ModelOBJPath(root, model->FileName));
    const std::string mtl = ModelMaterialPath(root, model->FileName, model->MaterialLibName);
    if (!FileExists(mtl)) {
      files.Probes.push_back(mtl);
      continue;
    }
    AddOnce(files.Inputs, mtl);
    if (model->MaterialFile == nullptr)
      continue;
    // As the GL side looks for each material's texture (models/TextureFiles.h): the base
    // name with ".png", ".bmp", ".jpg" in turn, in the model's folder.
    for (const TOBJMaterial& material : model->MaterialFile->Materials) {
      if (material.MapKd.empty())
        continue;
      std::string base = material.MapKd;
      const size_t cut = base.find_last_of("\\/:");
      const size_t dot = base.find_last_of('.');
      if (dot != std::string::npos && (cut == std::string::npos || dot > cut))
        base.erase(dot);
      for (const char* ext : {".png", ".bmp", ".jpg"}) {
        const std::string candidate = JoinPath(model->TextureDir, base + ext);
        if (FileExists(candidate)) {
          AddOnce(files.Inputs, candidate);
          break;
        }
        if (std::find(files.Probes.begin(), files.Probes.end(), candidate) == files.Probes.end())
          files.Probes.push_back(candidate);
      }
    }
  }

  const std::string shaders = ShaderFolder(root);
  std::vector<std::string> shaderAbsent;
  ShaderFilesIn(shaders, files.Inputs, shaderAbsent);
  // Shader files put into the root later replace the installed or built-in ones.
  std::vector<std::string> rootRead, rootAbsent;
  ShaderFilesIn(root, rootRead, rootAbsent);
  for (const std::string& p : rootAbsent)
    files.Probes.push_back(p);

  files.Outputs = job.OutputSet(options.Format).FileNames();
  files.Manifest = ManifestName(options, job.SettingsName);
  return files;
}

TJobFiles ListJobFiles(const TJobOptions& options, const std::string& name) {
  T2P5D_Manager job(nullptr, nullptr);
  LoadJob(job, options, name);
  return JobFilesOf(job, options);
}

} // namespace quarvel
