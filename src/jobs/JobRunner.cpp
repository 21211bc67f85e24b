#include "jobs/JobRunner.h"

#include "common/AtomicFile.h"
#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/Interrupt.h"
#include "common/OutputLock.h"
#include "common/Path.h"
#include "common/Text.h"
#include "gl/GLView.h"
#include "jobs/JobInputs.h"
#include "output/OutputSet.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace quarvel {

std::string NormalJobName(const std::string& name) {
  const std::string path = NormaliseSeparators(name);
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos)
      end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == ".." && !parts.empty() && parts.back() != "..")
      parts.pop_back();
    else if (!part.empty() && part != ".")
      parts.push_back(part);
    start = end + 1;
  }
  std::string normal = !path.empty() && path.front() == '/' ? "/" : "";
  for (size_t i = 0; i < parts.size(); ++i)
    normal += (i ? "/" : "") + parts[i];
  return normal;
}

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
    const fs::path file = fs::absolute(PathOf(*found), ec);
    const fs::path root = fs::absolute(PathOf(rootDir.empty() ? std::string(".") : rootDir), ec);
    fs::path rel = file.lexically_normal().lexically_relative(root.lexically_normal());
    if (!ec && !rel.empty()) {
      const std::string r = GenericUtf8Of(rel);
      return r.substr(0, r.size() - extension.size());
    }
  }
  return stem;
}

namespace {

// "../x" with an output folder would be written beside it, not inside it.
void CheckOutputName(const TJobOptions& options, const std::string& name) {
  if (options.OutputDir.empty())
    return;
  if (name == ".." || name.rfind("../", 0) == 0)
    throw Error(name + ": the job's files would be written outside the output folder " +
                options.OutputDir + " (the name climbs out of it with \"..\"); name the job " +
                "relative to the root");
}

// Every file the job will write, for the probe before drawing.
std::vector<std::string> PlannedFiles(const T2P5D_Manager& job, const TJobOptions& options) {
  std::vector<std::string> files = job.OutputSet(options.Format).FileNames();
  if (!options.DumpSheetsDir.empty())
    files.push_back(JoinPath(options.DumpSheetsDir, job.SettingsName) + "_0.colour.png");
  return files;
}

} // namespace

std::string SettingsNameFromArgument(const std::string& rootDir, const std::string& argument) {
  return NormalJobName(NameFromArgument(rootDir, argument, ".settings"));
}

TShaderSet PrepareGL(const std::string& rootDir) {
  if (!GLView)
    CreateGLView(400, 400);
  GLView->MakeCurrent();
  return LoadShaderSet(ShaderFolder(rootDir));
}

namespace {

// The folder of a job name ("units/tank" -> "units"); "" for a name without one.
std::string JobFolder(const std::string& name) {
  const std::string path = NormaliseSeparators(name);
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

} // namespace

std::string RootHint(const std::string& name, const std::string& missing) {
  std::string suggested = JobFolder(name);
  if (suggested.empty())
    return std::string();
  if (!missing.empty() && missing[0] != '/') {
    // Settings usually sit a folder or two below the root their paths are written from.
    for (std::string folder = suggested; !folder.empty();) {
      const std::string last = folder.substr(folder.find_last_of('/') + 1);
      if (last == ".." || last == ".")
        break;
      if (FindPath(folder + "/" + missing)) {
        suggested = folder;
        break;
      }
      const size_t up = folder.find_last_of('/');
      folder = up == std::string::npos || up == 0 ? std::string() : folder.substr(0, up);
    }
  }
  return "(includes and models are looked up below the root, now the current folder; did you "
         "mean --root " +
         Printable(suggested) + "?)";
}

void LoadJob(T2P5D_Manager& job, const TJobOptions& options, const std::string& name) {
  job.RootDir = options.RootDir.empty() ? "." : options.RootDir;
  job.OutputDir = options.OutputDir;
  job.DumpSheetsDir = options.DumpSheetsDir;
  job.TextureLimits.MaxPixels = options.MaxTexturePixels;
  job.WaitForOutputLock = options.WaitForOutput;
  job.OutputLockLimitSeconds = options.WaitLimitSeconds;
  // Another format's job must not run the normal pass nor name PNG files.
  job.SheetOptions = options.Format == TOutputFormat::PNG ? options.Sheets : TSheetOptions{};
  const std::string folder = options.GuessRoot ? JobFolder(name) : std::string();
  if (!folder.empty()) {
    // A settings file named by a path outside the default root (the current folder) is
    // refused before anything else is read; the user most likely meant its folder.
    try {
      ResolveInRoot(job.RootDir, name + ".settings");
    } catch (const OutsideRoot& e) {
      // The user typed this path: shown whole (escaped), not cut as file contents are.
      throw Error(std::string(e.what()) +
                  " (the root is now the current folder; did you mean --root " +
                  Printable(folder, 1000) + "?)");
    }
  }
  try {
    job.LoadSettings(name);
  } catch (const MissingInputError& e) {
    const std::string hint = options.GuessRoot ? RootHint(name, e.Name()) : std::string();
    if (hint.empty())
      throw;
    throw MissingInputError(e.WhatAlone(), e.Name(), hint);
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
  if (options.OnOutputSet)
    job.OnOutputSet = [&job, &options](std::vector<TPendingFile>& set,
                                       std::vector<std::string>& remove) {
      options.OnOutputSet(job, set, remove);
    };
  const std::string jobName = NormalJobName(name);
  CheckOutputName(options, jobName);
  LoadJob(job, options, jobName);
  ProbeOutputFiles(PlannedFiles(job, options));
  // Before the work, not when saving it: a FIFO or folder there would refuse the lock.
  RefuseSpecialFile(OutputLockFileName(job.OutputSet(options.Format).Stem()),
                    "lock the output set");
  job.RenderAll(inputs);
  job.SaveSheets(options.Format);
  return job.WrittenFiles;
}

} // namespace quarvel
