// Running whole render jobs: the sequence every front end (command line, window) follows,
// from a settings name to the files written.
//
// GL: LoadJob needs none. RunJob draws into the program's GL view with the render inputs
// its caller gives (light, half-ambient switch, shader programs): PrepareGL makes the view
// and a shader set, and the front end keeps them for as long as it renders.
#pragma once

#include "gl/Shader.h"
#include "jobs/Manager.h"
#include "render/RenderInputs.h"

#include <string>
#include <vector>

namespace quarvel {

struct TJobOptions {
  std::string RootDir = "."; // settings, includes, models and shader files are below it
  std::string OutputDir;     // output names are relative to it ("" = current folder)
  std::string DumpSheetsDir; // "" = no plane dumps
  bool AsKXZ = true;         // KXZ containers + .p16, else raw 2P5D files
  // Replaces the note of a MissingInputError when not empty (see RootHint).
  std::string MissingInputHint;
};

// For a job named with folders and rendered with the default root (the current folder),
// the note a missing include or model gets: "(includes and models are looked up below
// the root, now the current folder; did you mean --root path/to?)". "" for a name
// without folders.
std::string RootHint(const std::string& name);

// The name of a job as the settings list gives it (relative to the root, no extension)
// from a command-line argument: such a name is taken as it is; a path ending in
// ".settings" loses the extension and, when it names a file outside the root's naming
// (relative to the current folder, or absolute), is made relative to the root.
std::string SettingsNameFromArgument(const std::string& rootDir, const std::string& argument);
// The same for any extension: ModelNameFromArgument is NameFromArgument(root, arg, ".obj").
std::string NameFromArgument(const std::string& rootDir, const std::string& argument,
                             const std::string& extension);

// Makes GLView (400 x 400) when there is none and makes it current, then loads the three
// shader programs from rootDir (built-in copies where the files are missing).
TShaderSet PrepareGL(const std::string& rootDir);

// Loads the job (settings, includes, models) without rendering. The manager keeps
// Warnings; errors throw quarvel::Error.
void LoadJob(T2P5D_Manager& job, const TJobOptions& options, const std::string& name);

// Loads, renders and saves one job; returns the files written, in order. Errors throw
// quarvel::Error and leave no output file of the job behind.
//
// Interruption: while an interrupt is pending (common/Interrupt.h; the command line's
// signal handlers request one) the job stops at its next progress report, or at the
// latest right before its files would replace the old ones, by throwing Interrupted; it
// has written nothing then. A job whose files are in place is finished: the reports after
// that do not turn it into an interrupted one.
std::vector<std::string> RunJob(const TJobOptions& options, const std::string& name,
                                const TRenderInputs& inputs, const TProgressCallback& onProgress,
                                const TWarningCallback& onWarning);

} // namespace quarvel
