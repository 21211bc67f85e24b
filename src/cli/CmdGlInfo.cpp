// `quarvel-cli gl-info`: makes the program's GL view as a render job would and prints
// what it got, so a user can see which driver renders and whether pictures are
// multisampled (which changes how a job tells model from background).
#include "cli/Command.h"
#include "gl/GLView.h"
#include "jobs/Fingerprint.h"

#include <iostream>

namespace {

quarvel::cli::RegisterCommand reg("gl-info", [](CLI::App& app) {
  auto* sub = app.add_subcommand(
      "gl-info", "Print the OpenGL version and renderer of the headless view, whether it is "
                 "multisampled, its sample count, and the renderer fingerprint (the hash of a "
                 "tiny fixed job rendered here, as render --require-fingerprint takes it).");
  sub->callback([] {
    const quarvel::TOGL& view = quarvel::CreateGLView(400, 400);
    std::cout << "OpenGL version: " << quarvel::TOGL::GLVersion() << "\n"
              << "Renderer: " << quarvel::TOGL::GLRenderer() << "\n"
              << "EGL platform: " << quarvel::TOGL::EGLPlatform() << "\n"
              << "View: " << view.Width() << " x " << view.Height() << "\n"
              << "Multisampled: " << (view.Multisampled() ? "yes" : "no") << "\n"
              << "Samples: " << view.Samples() << "\n"
              << "Fingerprint: " << quarvel::RendererFingerprint() << std::endl;
    quarvel::cli::SetExitCode(0);
  });
});

} // namespace
