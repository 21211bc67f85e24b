#include "cli/Command.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace quarvel::cli {

namespace {
std::vector<std::pair<std::string, CommandSetup>>& Registry() {
  static std::vector<std::pair<std::string, CommandSetup>> registry;
  return registry;
}
int exitCode = 0;
} // namespace

RegisterCommand::RegisterCommand(const std::string& name, CommandSetup setup) {
  Registry().emplace_back(name, std::move(setup));
}

void SetExitCode(int code) {
  exitCode = code;
}
int ExitCode() {
  return exitCode;
}

void AddRegisteredCommands(CLI::App& app) {
  auto& registry = Registry();
  std::sort(registry.begin(), registry.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& entry : registry)
    entry.second(app);
}

} // namespace quarvel::cli
