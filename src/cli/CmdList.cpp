// quarvel-cli list [SETTINGS...] [--all] : the jobs a render would take, without rendering.
//
// Plain: one job name a line, ready for a distributor (`... | parallel quarvel-cli render
// {} ...`). With --json: per job its settings file, every file it reads with sizes, the
// files it looked for and did not find, and the files it writes. Jobs are loaded without
// GL; a job that cannot be loaded is listed with its error and makes the exit status 1.
#include "cli/Batch.h"
#include "cli/Command.h"
#include "cli/SheetOptions.h"
#include "common/ContentHash.h"
#include "common/FileLookup.h"
#include "common/Text.h"
#include "jobs/JobInputs.h"
#include "output/OutputSet.h"
#include "platform/Platform.h"

#include <nlohmann/json.hpp>

#include <iostream>
#include <memory>

namespace quarvel::cli {

namespace {

struct TListArgs {
  std::vector<std::string> Settings;
  std::string Root = ".";
  std::string Out;
  std::string Format = "kxz";
  TSheetArgs Sheets;
  std::string Shard;
  bool All = false;
  bool Json = false;
};

nlohmann::json FileWithSize(const std::string& path) {
  nlohmann::json file = {{"path", path}};
  if (HoldsNul(path))
    return file;
  if (const auto st = platform::StatusOf(path))
    file["size"] = st->Size;
  return file;
}

void RunList(TListArgs& args) {
  LowerCaseASCII(args.Format);
  // Folders --all cannot read and dangling links go to the error stream, as render says
  // them, so that the list itself stays one name a line for the tools it is piped into.
  std::vector<std::string> problems;
  const std::vector<std::string> names =
      SelectJobs(args.Root, args.Settings, args.All, args.Shard, &problems);
  for (const std::string& problem : problems)
    std::cerr << "warning: " << ForTerminal(problem) << std::endl;
  if (!args.Json) {
    for (const std::string& name : names)
      std::cout << ForTerminal(name) << "\n"; // --json gives names with other bytes exactly
    std::cout << std::flush;
    SetExitCode(0);
    return;
  }
  TJobOptions options;
  options.RootDir = args.Root;
  options.OutputDir = args.Out;
  options.Format = FormatFromWord(args.Format);
  args.Sheets.ApplyTo(options, args.Format);
  nlohmann::json jobs = nlohmann::json::array();
  bool failed = false;
  for (const std::string& name : names) {
    nlohmann::json job = {{"name", name},
                          {"settings", ResolvePath(RootRelative(args.Root, name + ".settings"))}};
    try {
      const TJobFiles files = ListJobFiles(options, name);
      nlohmann::json inputs = nlohmann::json::array();
      for (const std::string& f : files.Inputs)
        inputs.push_back(FileWithSize(f));
      job["inputs"] = inputs;
      job["probes"] = files.Probes;
      job["outputs"] = files.Outputs;
      job["manifest"] = files.Manifest;
    } catch (const std::exception& e) {
      job["error"] = e.what();
      failed = true;
    }
    jobs.push_back(job);
  }
  nlohmann::json doc = {{"root", args.Root}, {"jobs", jobs}, {"warnings", problems}};
  std::cout << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
  SetExitCode(failed ? 1 : 0);
}

RegisterCommand reg("list", [](CLI::App& app) {
  auto args = std::make_shared<TListArgs>();
  CLI::App* sub = app.add_subcommand(
      "list", "List jobs (one name a line), or with --json the files each job reads and writes; "
              "loads no model into GL");
  sub->add_option("SETTINGS", args->Settings,
                  "Settings names relative to the root, without \".settings\"");
  sub->add_option("--root", args->Root, "Folder the settings, includes and models are below");
  sub->add_option("--out", args->Out, "Folder the output names are relative to");
  sub->add_option("--format", args->Format,
                  "Output format the outputs are named for: kxz, 2p5d, png")
      ->check(CLI::IsMember({"kxz", "2p5d", "png"}, CLI::ignore_case));
  args->Sheets.AddTo(sub);
  sub->add_option("--shard", args->Shard,
                  "Only shard K of N (1-based; auto/N and auto from a scheduler), as render "
                  "--shard takes them");
  sub->add_flag("--all", args->All, "Every settings file below the root");
  sub->add_flag("--json", args->Json,
                "Per job: settings file, inputs with sizes, absent files looked for, outputs, "
                "manifest");
  sub->callback([args] { RunList(*args); });
});

} // namespace

} // namespace quarvel::cli
