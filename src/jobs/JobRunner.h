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

#include <functional>

#include <string>
#include <vector>

namespace quarvel {

struct TJobOptions {
  std::string RootDir = "."; // settings, includes, models and shader files are below it
  std::string OutputDir;     // output names are relative to it ("" = current folder)
  std::string DumpSheetsDir; // "" = no plane dumps
  TOutputFormat Format = TOutputFormat::KXZ; // output/OutputSet.h: the files each format writes
  TSheetOptions Sheets; // how a PNG job writes its sheets; the other formats ignore it
  // Most pixels one texture may have (--max-texture-pixels; models/TextureFiles.h).
  long long MaxTexturePixels = DefaultMaxTexturePixels;
  bool WaitForOutput = true; // wait while another process writes the same output set
  int WaitLimitSeconds = 0;  // ... for at most this long (0: as long as it takes)
  // When set, RunJob hands it the loaded job and its output set before the set is
  // written (T2P5D_Manager::OnOutputSet): the manifest joins the set there.
  std::function<void(const T2P5D_Manager& Job, std::vector<TPendingFile>& Set,
                     std::vector<std::string>& Remove)>
      OnOutputSet;
  // The root was not chosen by the user (the current folder): a job named with folders
  // whose files are not found below it gets a guess at the root meant (see RootHint).
  bool GuessRoot = false;
};

// A job name in one form: "/" between folders, no empty or "." component, "folder/.."
// folded away ("./units//tank/" -> "units/tank", "a/../b" -> "b"). Leading ".." and a
// leading "/" stay.
std::string NormalJobName(const std::string& name);

// For a job named with folders and rendered with the default root (the current folder),
// the note a missing include or model gets: "(includes and models are looked up below
// the root, now the current folder; did you mean --root path/to?)". The folder suggested
// is the nearest one, from the settings file's folder up, below which `missing` (the
// name the settings wrote) exists; the settings file's folder when there is none. ""
// for a name without folders.
std::string RootHint(const std::string& name, const std::string& missing);

// The name of a job as the settings list gives it (relative to the root, no extension)
// from a command-line argument: such a name is taken as it is; a path ending in
// ".settings" loses the extension and, when it names a file outside the root's naming
// (relative to the current folder, or absolute), is made relative to the root. The name
// is given in its normal form (NormalJobName), so that the forms of one job compare equal.
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
// Outputs: with an output folder, a name that climbs out of it ("../other/x") is refused
// before anything is read. Before anything is drawn the output files are probed
// (ProbeOutputFiles): a folder that cannot be written fails the job at once, not after
// the passes. Another process writing the same output set at the same time is waited for
// (or, without WaitForOutput, fails the job) when the files are put in place.
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
