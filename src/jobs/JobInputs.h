// What a job reads and writes, known without rendering it (no GL): the settings file and
// its includes, the models, their material libraries and textures, the shader files, and
// the output files with the job's manifest.
//
// This is the one enumeration of a job's files: `list --json`, the manifests of the
// up-to-date check and the dependency files for build tools all come from JobFilesOf, so a
// file the job starts reading is added here once for all of them.
//
// Besides the files read, a job has files it looked for and did not find where finding
// one would change the output (a texture ".png" tried before the ".bmp" that was used, a
// material library that is missing, shader files the root could override the built-in
// ones with): those are Probes. A manifest records them so that a file appearing there
// makes the job out of date.
#pragma once

#include "jobs/JobRunner.h"

#include <string>
#include <vector>

namespace quarvel {

struct TJobFiles {
  std::string Name;                 // the job's name (relative to the root, no extension)
  std::vector<std::string> Inputs;  // every file read, found paths, in reading order, once each
  std::vector<std::string> Probes;  // looked for and absent
  std::vector<std::string> Outputs; // the sprite files, in writing order
  std::string Manifest;             // the job's manifest (hidden, beside the outputs)
};

// The files of a loaded job (LoadJob). The outputs follow options.OutputDir and Format.
TJobFiles JobFilesOf(const T2P5D_Manager& job, const TJobOptions& options);

// Loads the job without GL and returns JobFilesOf. Errors throw quarvel::Error.
TJobFiles ListJobFiles(const TJobOptions& options, const std::string& name);

// OutputDir/dir/.base.manifest for the job "dir/base".
std::string ManifestName(const TJobOptions& options, const std::string& name);

// The folder the shader files are taken from: the root when it holds a vertex and fragment
// file of any of the three programs; otherwise the installed shader folder
// (<program folder>/../share/quarvel) when it holds them; otherwise the root, which means
// the program's built-in copies. Shader files in the root thus override installed ones.
std::string ShaderFolder(const std::string& rootDir);

// The shader files in `folder` that LoadShaderSet reads (both files of a program, or
// neither), and those it looked for and did not find.
void ShaderFilesIn(const std::string& folder, std::vector<std::string>& read,
                   std::vector<std::string>& absent);

} // namespace quarvel
