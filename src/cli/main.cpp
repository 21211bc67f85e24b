// quarvel-cli: the program's jobs without a window.
#include "cli/Command.h"
#include "common/Error.h"
#include "common/Messages.h"
#include "common/Text.h"

#include <iostream>

int main(int argc, char** argv) {
  CLI::App app{"Quarvel: renders Wavefront OBJ models into paletted 2.5D sprites "
               "(2P5D files or KXZ containers with .p16 palettes).",
               "quarvel-cli"};
  app.set_version_flag("--version", std::string("quarvel-cli ") + QUARVEL_VERSION);
  app.require_subcommand(1);
  app.footer("Exit status: 0 when everything succeeded; 1 when a job (or the command) failed; "
             "2 when the command line was wrong; 130 or 143 when a render was interrupted by "
             "SIGINT or SIGTERM.");
  quarvel::SetMessageSink([](const std::string& title, const std::string& text) {
    std::cerr << title << ": " << quarvel::ForTerminal(text) << std::endl;
  });
  quarvel::cli::AddRegisteredCommands(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version end here too, with status 0; every other parse error is a
    // command line that was wrong, and has one status for scripts to test.
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  } catch (const std::exception& e) {
    std::cerr << "quarvel-cli: " << quarvel::ForTerminal(e.what()) << std::endl;
    return 1;
  }
  return quarvel::cli::ExitCode();
}
