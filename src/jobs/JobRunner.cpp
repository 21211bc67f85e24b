#include "jobs/JobRunner.h"

#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/Interrupt.h"
#include "common/Text.h"
#include "gl/GLView.h"
#include "jobs/JobInputs.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace quarvel {

std::string SettingsNameFromArgument(const std::string& rootDir, const std::string& argument) {
  if (!EndsWithNoCase(argument, ".settings"))
    return argument;
  const std::string stem = argument.substr(0, argument.size() - 9);
  if (FileExists(RootRelative(rootDir, stem + ".settings")))
    return stem;
  // A path to a file the root does not name that way: the job's name is its place
  // relative to the root (models and includes are looked up below the root).
  if (auto found = FindPath(argument)) {
    std::error_code ec;
    const fs::path file = fs::absolute(fs::path(*found), ec);
    const fs::path root = fs::absolute(fs::path(rootDir.empty() ? "." : rootDir), ec);
    fs::path rel = file.lexically_normal().lexically_relative(root.lexically_normal());
    if (!ec && !rel.empty()) {
      const std::string r = rel.generic_string();
      return r.substr(0, r.size() - 9);
    }
  }
  return stem;
}

TShaderSet PrepareGL(const std::string& rootDir) {
  if (!GLView)
    CreateGLView(400, 400);
  GLView->MakeCurrent();
  return LoadShaderSet(ShaderFolder(rootDir));
}

void LoadJob(T2P5D_Manager& job, const TJobOptions& options, const std::string& name) {
  job.RootDir = options.RootDir.empty() ? "." : options.RootDir;
  job.OutputDir = options.OutputDir;
  job.DumpSheetsDir = options.DumpSheetsDir;
  job.LoadSettings(name);
}

std::vector<std::string> RunJob(const TJobOptions& options, const std::string& name,
                                const TRenderInputs& inputs, const TProgressCallback& onProgress,
                                const TWarningCallback& onWarning) {
  if (!GLView)
    throw Error("no GL view: the render job needs the program's GL view (PrepareGL)");
  GLView->MakeCurrent();
  T2P5D_Manager job(nullptr, onWarning);
  job.OnProgress = [&job, &onProgress](int32_t percent, const std::string& text) {
    if (job.WrittenFiles.empty())
      ThrowIfInterrupted();
    if (onProgress)
      onProgress(percent, text);
  };
  job.Multisampled = GLView->Multisampled();
  if (options.OnOutputSet)
    job.OnOutputSet = [&job, &options](std::vector<TPendingFile>& set,
                                       std::vector<std::string>& remove) {
      options.OnOutputSet(job, set, remove);
    };
  LoadJob(job, options, name);
  job.RenderAll(inputs);
  job.SaveSheets(options.AsKXZ);
  return job.WrittenFiles;
}

} // namespace quarvel
