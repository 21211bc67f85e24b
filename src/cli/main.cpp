// quarvel-cli: the program's jobs without a window.
#include "cli/Command.h"
#include "common/Error.h"
#include "common/Messages.h"

#include <iostream>

int main(int argc, char** argv) {
  CLI::App app{"Quarvel: renders Wavefront OBJ models into paletted 2.5D sprites "
               "(2P5D files or KXZ containers with .p16 palettes).",
               "quarvel-cli"};
  app.set_version_flag("--version", std::string("quarvel-cli ") + QUARVEL_VERSION);
  app.require_subcommand(1);
  quarvel::SetMessageSink([](const std::string& title, const std::string& text) {
    std::cerr << title << ": " << text << std::endl;
  });
  quarvel::cli::AddRegisteredCommands(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const std::exception& e) {
    std::cerr << "quarvel-cli: " << e.what() << std::endl;
    return 1;
  }
  return quarvel::cli::ExitCode();
}
