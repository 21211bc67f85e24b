// `quarvel-cli gl-info`: makes the program's GL view as a render job would and prints
// what it got, so a user can see which driver renders and whether pictures are
// multisampled (which changes how a job tells model from background). With --all it
// lists every OpenGL device that was tried, numbered for --gl-device.
#include "cli/Command.h"
#include "cli/GLOptions.h"
#include "common/Error.h"
#include "gl/Context.h"
#include "gl/GLView.h"
#include "jobs/Fingerprint.h"

#include <iostream>
#include <memory>

namespace quarvel::cli {

namespace {

struct TGlInfoArgs {
  bool All = false;
  TGLDeviceOptions Device;
};

void PrintCandidates() {
  const TGLDeviceReport& report = GLDeviceReport();
  std::cout << "OpenGL devices (" << report.Candidates.size() << "):\n";
  for (size_t i = 0; i < report.Candidates.size(); ++i) {
    const TGLCandidate& c = report.Candidates[i];
    const bool chosen = static_cast<int>(i) == report.Choice.Index;
    std::cout << i << ": " << c.Platform << "\n";
    if (!c.Vendor.empty() || !c.Renderer.empty()) {
      std::cout << "   Vendor: " << c.Vendor << "\n"
                << "   Renderer: " << c.Renderer << " ("
                << (IsSoftwareRenderer(c.Renderer) ? "software" : "hardware") << ")\n"
                << "   OpenGL version: " << c.Version << "\n";
    }
    if (!c.Usable)
      std::cout << "   Cannot be used: " << c.Failure << "\n";
    std::cout << "   Chosen: " << (chosen ? "yes, " + report.Choice.Reason : std::string("no"))
              << "\n";
  }
}

RegisterCommand reg("gl-info", [](CLI::App& app) {
  auto args = std::make_shared<TGlInfoArgs>();
  auto* sub = app.add_subcommand(
      "gl-info", "Print the OpenGL version and renderer of the headless view, why that device "
                 "was chosen, whether it is multisampled, its sample count, and the renderer "
                 "fingerprint (the hash of a tiny fixed job rendered here, as render "
                 "--require-fingerprint takes it).");
  sub->add_flag("--all", args->All,
                "List every OpenGL device tried (EGL devices, the surfaceless platform, the "
                "default display) with its platform, vendor, renderer and version, numbered "
                "for --gl-device, and which one was chosen and why");
  AddGLDeviceOptions(*sub, args->Device);
  sub->callback([args] {
    ApplyGLDeviceOptions(args->Device);
    std::unique_ptr<Error> failure;
    try {
      CreateGLView(400, 400);
    } catch (const Error& e) {
      // The list says what each device gave; the error follows it.
      if (!args->All)
        throw;
      failure = std::make_unique<Error>(e);
    }
    if (args->All) {
      PrintCandidates();
      if (failure)
        throw *failure;
      std::cout << "\n";
    }
    const TOGL& view = *GLView;
    const TGLDeviceChoice& choice = GLDeviceReport().Choice;
    std::cout << "OpenGL version: " << TOGL::GLVersion() << "\n"
              << "Renderer: " << TOGL::GLRenderer() << "\n"
              << "Renderer kind: " << (choice.Software ? "software" : "hardware") << " ("
              << choice.Reason << ")\n"
              << GLSystemName() << " platform: " << TOGL::EGLPlatform() << "\n"
              << "Device: " << choice.Index << "\n"
              << "View: " << view.Width() << " x " << view.Height() << "\n"
              << "Multisampled: " << (view.Multisampled() ? "yes" : "no") << "\n"
              << "Samples: " << view.Samples() << "\n"
              << "Fingerprint: " << RendererFingerprint() << std::endl;
    SetExitCode(0);
  });
});

} // namespace

} // namespace quarvel::cli
