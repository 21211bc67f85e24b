#include "jobs/JobRunner.h"

#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/Interrupt.h"
#include "common/Text.h"
#include "gl/GLView.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace quarvel {

std::string NameFromArgument(const std::string& rootDir, const std::string& argument,
                             const std::string& extension) {
  if (argument.size() <= extension.size() || !EndsWithNoCase(argument, extension))
    return argument;
  const std::string stem = argument.substr(0, argument.size() - extension.size());
  if (FileExists(RootRelative(rootDir, stem + extension)))
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
      return r.substr(0, r.size() - extension.size());
    }
  }
  return stem;
}

std::string SettingsNameFromArgument(const std::string& rootDir, const std::string& argument) {
  return NameFromArgument(rootDir, argument, ".settings");
}

TShaderSet PrepareGL(const std::string& rootDir) {
  if (!GLView)
    CreateGLView(400, 400);
  GLView->MakeCurrent();
  return LoadShaderSet(rootDir.empty() ? "." : rootDir);
}

std::string RootHint(const std::string& name) {
  const std::string path = NormaliseSeparators(name);
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0)
    return std::string();
  return "(includes and models are looked up below the root, now the current folder; did you "
         "mean --root " +
         Printable(path.substr(0, slash)) + "?)";
}

void LoadJob(T2P5D_Manager& job, const TJobOptions& options, const std::string& name) {
  job.RootDir = options.RootDir.empty() ? "." : options.RootDir;
  job.OutputDir = options.OutputDir;
  job.DumpSheetsDir = options.DumpSheetsDir;
  try {
    job.LoadSettings(name);
  } catch (const MissingInputError& e) {
    if (options.MissingInputHint.empty())
      throw;
    throw MissingInputError(e.WhatAlone(), options.MissingInputHint);
  }
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
  LoadJob(job, options, name);
  job.RenderAll(inputs);
  job.SaveSheets(options.AsKXZ);
  return job.WrittenFiles;
}

} // namespace quarvel
