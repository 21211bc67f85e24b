// The shared `info` sub-command of quarvel-cli. Several files add their own child
// commands to it ("info model", "info job"); whichever registers first creates it.
//
//   static quarvel::cli::RegisterCommand reg("info job", [](CLI::App& app) {
//     CLI::App* job = quarvel::cli::InfoCommand(app)->add_subcommand("job", "...");
//     ...
//   });
#pragma once

#include <CLI/CLI.hpp>

namespace quarvel::cli {

// The `info` sub-command of `app`, created (requiring one child command) on first use.
// The pointer is owned by `app`.
inline CLI::App* InfoCommand(CLI::App& app) {
  for (CLI::App* sub : app.get_subcommands([](CLI::App* s) { return s->get_name() == "info"; }))
    return sub;
  CLI::App* info = app.add_subcommand(
      "info", "Print what a model or a job holds, to check it before rendering.");
  info->require_subcommand(1);
  return info;
}

} // namespace quarvel::cli
