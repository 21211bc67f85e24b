// quarvel-cli: the program's jobs without a window.
#include "cli/Command.h"
#include "common/Error.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "platform/Platform.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  // A scene import's worker on Windows is this program started again.
  quarvel::platform::ServeIfIsolatedWorker();
  // Every GL context is made after probing each display the driver offers, the X server
  // of $DISPLAY among them; one that drops the connection must fail that probe, not end a
  // render that never needed it (the exit status would read as a crash, 141).
  quarvel::platform::IgnoreBrokenPipes();
  CLI::App app{"Quarvel: renders Wavefront OBJ models into paletted 2.5D sprites "
               "(2P5D files or KXZ containers with .p16 palettes).",
               "quarvel-cli"};
  // CLI11 on Windows also takes "/name" for an option, so a path such as /work/unit.kxz
  // would be read as one; options are "--name" on every system. Set before the
  // sub-commands are made, which copy it.
  app.allow_windows_style_options(false);
  app.set_version_flag("--version", std::string("quarvel-cli ") + QUARVEL_VERSION);
  app.require_subcommand(1);
  app.footer("Exit status: 0 when everything succeeded (every job rendered or up to date); 1 "
             "when a job (or the command) failed because of its input, which retrying will not "
             "mend; 2 when the command line was wrong; 3 when something failed that may pass "
             "on another try or machine (no OpenGL, a full disk, an output set another render "
             "holds, a worker killed); 130 or 143 when interrupted by SIGINT or SIGTERM. Of "
             "several jobs' failures, 3 outranks 1.");
  quarvel::SetMessageSink([](const std::string& title, const std::string& text) {
    std::cerr << title << ": " << quarvel::ForTerminal(text) << std::endl;
  });
  quarvel::cli::AddRegisteredCommands(app);
  // The arguments in UTF-8 (on Windows main's are in the ANSI code page).
  std::vector<std::string> arguments = quarvel::platform::CommandLineArguments(argc, argv);
  std::vector<char*> utf8argv;
  for (std::string& a : arguments)
    utf8argv.push_back(a.data());
  utf8argv.push_back(nullptr);
  try {
    app.parse(static_cast<int>(arguments.size()), utf8argv.data());
  } catch (const CLI::ParseError& e) {
    // --help and --version end here too, with status 0; every other parse error is a
    // command line that was wrong, and has one status for scripts to test.
    const int code = app.exit(e);
    return code == 0 ? 0 : quarvel::cli::ExitUsage;
  } catch (const quarvel::TransientError& e) {
    std::cerr << "quarvel-cli: " << quarvel::ForTerminal(e.what()) << std::endl;
    return quarvel::cli::ExitTransient;
  } catch (const std::exception& e) {
    std::cerr << "quarvel-cli: " << quarvel::ForTerminal(e.what()) << std::endl;
    return quarvel::cli::ExitFailed;
  }
  return quarvel::cli::ExitCode();
}
