// quarvel-cli info job SETTINGS : what a job holds, loaded but not rendered, so that a
// user can check a settings file (and every line it ignored) before a long render.
// Models are read and their textures decoded as a render would (every warning a render
// gives about them shows here), without making GL textures: no GL context is needed.
#include "cli/CmdInfo.h"
#include "cli/Command.h"
#include "cli/InputOptions.h"
#include "common/Text.h"
#include "jobs/JobRunner.h"
#include "models/SceneFile.h"
#include "models/SceneFormats.h"

#include <nlohmann/json.hpp>

#include <iostream>
#include <sstream>

namespace quarvel::cli {

namespace {

struct TInfoJobArgs {
  std::string Settings;
  std::string Root = ".";
  bool RootGiven = false;
  bool Json = false;
  TInputOptions Input;
};

std::string Number(double v) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << v;
  return out.str();
}

void RunInfoJob(const TInfoJobArgs& args) {
  args.Input.Apply();
  T2P5D_Manager job(nullptr);
  TJobOptions options;
  options.RootDir = args.Root;
  options.MaxTexturePixels = args.Input.MaxTexturePixels;
  const std::string name = SettingsNameFromArgument(args.Root, args.Settings);
  options.GuessRoot = !args.RootGiven;
  LoadJob(job, options, name);
  // The textures a render would upload, decoded the same way, so that what a render
  // would warn about (or fail on) shows here too.
  job.DecodeTextures();
  const std::vector<std::string> models = job.ModelNames();
  auto modelOf = [&](const TJobFrame& f) {
    return f.ModelIndex >= 0 && static_cast<size_t>(f.ModelIndex) < models.size()
               ? models[static_cast<size_t>(f.ModelIndex)]
               : std::string();
  };

  if (args.Json) {
    nlohmann::json out;
    out["angles"] = job.Angles;
    out["frames"] = nlohmann::json::array();
    for (const TJobFrame& f : job.Frames) {
      nlohmann::json frame = {{"model", modelOf(f)}, {"min_y", f.MinY}, {"max_y", f.MaxY}};
      // Frames of "scene" and "clip" lines say which file, clip and time they show.
      if (IsSceneFileName(f.Source.File))
        frame["source"] = {
            {"file", f.Source.File}, {"clip", f.Source.Clip}, {"seconds", f.Source.Seconds}};
      out["frames"].push_back(frame);
    }
    out["models"] = models;
    out["scale"] = static_cast<double>(job.Scale);
    out["zmax"] = job.ZMax;
    out["single_output"] = job.SingleOutput;
    out["warnings"] = job.Warnings;
    // Settings lines, file and folder names are bytes, not always UTF-8: invalid bytes
    // are shown as U+FFFD instead of failing the whole output.
    std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
    return;
  }

  // Names of files, models and clips are the inputs' own bytes.
  std::ostringstream out;
  out << "settings: " << job.SettingsFile << "\n";
  out << "angles: " << job.Angles.size() << "\n";
  for (size_t a = 0; a < job.Angles.size(); ++a)
    out << "  slot " << a << ": " << job.Angles[a] << " degrees\n";
  out << "frames: " << job.Frames.size() << "\n";
  for (size_t f = 0; f < job.Frames.size(); ++f) {
    const TFrameSource& source = job.Frames[f].Source;
    out << "  frame " << f + 1 << ": " << modelOf(job.Frames[f]) << " (min y "
        << Number(job.Frames[f].MinY) << ", max y " << Number(job.Frames[f].MaxY) << ")";
    if (IsSceneFileName(source.File))
      out << " from " << source.File
          << (source.Clip.empty()
                  ? std::string(", rest pose")
                  : ", clip " + source.Clip + " at " + Number(source.Seconds) + " s");
    out << "\n";
  }
  out << "models: " << models.size() << "\n";
  for (const std::string& m : models)
    out << "  " << m << "\n";
  out << "scale: " << Number(static_cast<double>(job.Scale)) << "\n";
  out << "zmax: " << static_cast<int>(job.ZMax) << "\n";
  out << "single output: " << (job.SingleOutput ? "yes" : "no") << "\n";
  out << "warnings: " << job.Warnings.size() << "\n";
  for (const std::string& line : ShownWarnings(job.Warnings))
    out << "  " << line << "\n";
  std::cout << ForTerminal(out.str()) << std::flush;
}

RegisterCommand reg("info job", [](CLI::App& app) {
  auto args = std::make_shared<TInfoJobArgs>();
  CLI::App* sub = InfoCommand(app)->add_subcommand(
      "job", "Load a job without rendering it: its angles, frames, models, scale, zmax, "
             "single output and every line that was ignored or took a default.");
  sub->add_option("SETTINGS", args->Settings,
                  "Settings name relative to the root, without \".settings\" (a path ending in "
                  "\".settings\" is accepted too)")
      ->required();
  sub->add_option("--root", args->Root, "Folder the settings and models are below (default: .)");
  sub->add_flag("--json", args->Json, "Print one JSON object");
  args->Input.AddTo(sub);
  sub->callback([args, sub] {
    args->RootGiven = sub->count("--root") > 0;
    RunInfoJob(*args);
  });
});

} // namespace

} // namespace quarvel::cli
