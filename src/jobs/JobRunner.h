// Running whole render jobs: the sequence every front end (command line, window) follows,
// from a settings name to the files written.
//
// GL: RunJob and LoadJob need the program's GL view and shader programs; PrepareGL makes
// them on first use (a 400 x 400 view, programs from the root folder with built-in copies
// where the files are missing) and keeps them for the rest of the process.
#pragma once

#include "jobs/Manager.h"

#include <string>
#include <vector>

namespace quarvel {

struct TJobOptions {
  std::string RootDir = "."; // settings, includes, models and shader files are below it
  std::string OutputDir;     // output names are relative to it ("" = current folder)
  std::string DumpSheetsDir; // "" = no plane dumps
  bool AsKXZ = true;         // KXZ containers + .p16, else raw 2P5D files
};

// The name of a job as the settings list gives it (relative to the root, no extension)
// from a command-line argument: such a name is taken as it is; a path ending in
// ".settings" loses the extension and, when it names a file outside the root's naming
// (relative to the current folder, or absolute), is made relative to the root.
std::string SettingsNameFromArgument(const std::string& rootDir, const std::string& argument);

// Makes GLView and loads the three shader programs from rootDir, once per process.
void PrepareGL(const std::string& rootDir);

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
                                const TProgressCallback& onProgress,
                                const TWarningCallback& onWarning);

} // namespace quarvel
