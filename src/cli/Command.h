// Sub-commands of quarvel-cli. Each src/cli/Cmd*.cpp registers itself with a static
// RegisterCommand; main() builds the CLI11 application from all of them.
//
//   static quarvel::cli::RegisterCommand reg("gl-info", [](CLI::App& app) {
//     auto* sub = app.add_subcommand("gl-info", "Print the OpenGL version ...");
//     sub->callback([] { ...; quarvel::cli::SetExitCode(0); });
//   });
//
// A callback reports failure by throwing (quarvel::Error and std::exception print one
// line "quarvel-cli: <message>" and exit 1) or by SetExitCode with a non-zero code.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

namespace quarvel::cli {

using CommandSetup = std::function<void(CLI::App&)>;

struct RegisterCommand {
  RegisterCommand(const std::string& name, CommandSetup setup);
};

// Exit statuses, by what a script or a scheduler should do about them: a failure of the
// input fails again however often it is tried; a transient one (common/Error.h's
// TransientError) may pass on another try or machine. 130 and 143: interrupted.
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;
constexpr int ExitTransient = 3;

void SetExitCode(int code);
int ExitCode();

// Used by main(): adds every registered command, in name order.
void AddRegisteredCommands(CLI::App& app);

} // namespace quarvel::cli
