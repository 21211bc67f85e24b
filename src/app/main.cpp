// quarvel: the window. quarvel [--root DIR] [--snapshot FILE.png] [MODEL]
//
// The program folder is the folder of this executable unless --root names another; the
// lists, shaders, background pictures and models are all found there. MODEL is a model
// name as the list shows it (relative to that folder, without ".obj"; a scene file keeps
// its extension).
//
// --snapshot FILE.png starts as usual, lets the preview draw its first frames, writes a
// picture of the window's client area (927 x 583) and exits: for the README, and to
// check that the window really draws. Notices then go to standard error, not dialogs.
#include <FL/Fl.H>
#include <FL/fl_ask.H>

#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "app/Display.h"
#include "app/FormMain.h"
#include "common/Messages.h"
#include "common/Path.h"
#include "platform/Platform.h"

namespace {

std::string ExecutableFolder() {
  const std::string exe = quarvel::platform::ProgramPath();
  if (exe.empty())
    return quarvel::Utf8Of(std::filesystem::current_path());
  return quarvel::Utf8Of(quarvel::PathOf(exe).parent_path());
}

} // namespace

int main(int argc, char** argv) {
  // A scene import's worker on Windows is this program started again.
  quarvel::platform::ServeIfIsolatedWorker();
  CLI::App cli{"Quarvel: previews OBJ models and scene files and renders them into 2.5D sprites",
               "quarvel"};
  // CLI11 on Windows also takes "/name" for an option, so a path such as /work/unit.obj
  // would be read as one; options are "--name" on every system.
  cli.allow_windows_style_options(false);
  cli.set_version_flag("--version", std::string("quarvel ") + QUARVEL_VERSION);
  std::string root;
  std::string snapshot;
  std::string model;
  cli.add_option("--root", root, "Program folder (default: the folder of this program)");
  cli.add_option(
      "--snapshot", snapshot,
      "Write a picture of the window to this PNG file after the first frames, then exit");
  cli.add_option("MODEL", model,
                 "Model to open as the list shows it: relative to the program folder, an OBJ "
                 "model without .obj or a scene file with its extension");
  // The arguments in UTF-8 (on Windows main's are in the ANSI code page, which cannot
  // name every file).
  std::vector<std::string> arguments = quarvel::platform::CommandLineArguments(argc, argv);
  std::vector<char*> utf8argv;
  for (std::string& a : arguments)
    utf8argv.push_back(a.data());
  utf8argv.push_back(nullptr);
  CLI11_PARSE(cli, static_cast<int>(arguments.size()), utf8argv.data());

  std::string progDir = root.empty() ? ExecutableFolder() : root;
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(quarvel::PathOf(progDir), ec);
  if (!ec)
    progDir = quarvel::Utf8Of(absolute.lexically_normal());

  if (snapshot.empty()) {
    quarvel::SetMessageSink([](const std::string& title, const std::string& text) {
      fl_message_title(title.c_str());
      if (title == "Error")
        fl_alert("%s", text.c_str());
      else
        fl_message("%s", text.c_str());
    });
  }

  // FLTK would end the program at its first need of the display, with no retry and no
  // word of what to do.
  std::string why;
  if (!quarvel::OpenDisplay(why)) {
    std::cerr << "quarvel: " << why << "\n";
    return 1;
  }
  quarvel::TFrmMain form(progDir);
  form.FormCreate(model);
  if (!snapshot.empty()) {
    try {
      // Two ticks: the first frame has compiled the model's display lists.
      for (int frame = 0; frame < 2; ++frame)
        form.RenderTimerTimer();
      form.SaveSnapshot(snapshot);
    } catch (const std::exception& e) {
      std::cerr << "quarvel: " << e.what() << "\n";
      return 1;
    }
    return 0;
  }
  form.Show();
  return Fl::run();
}
