// The options every command that reads jobs or models shares: the root rule's switch and
// the texture pixel limit.
#pragma once

#include "common/FileLookup.h"
#include "models/TextureFiles.h"

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace quarvel::cli {

struct TInputOptions {
  bool AllowOutsideRoot = false;
  long long MaxTexturePixels = DefaultMaxTexturePixels;

  void AddTo(CLI::App* sub) {
    sub->add_flag("--allow-outside-root", AllowOutsideRoot,
                  "Also read settings, includes, models, materials, textures and shader files "
                  "outside the root folder (absolute names, \"..\", links leading out of it); "
                  "without it they are refused");
    sub->add_option("--max-texture-pixels", MaxTexturePixels,
                    "Most pixels one texture may have; larger pictures are refused from their "
                    "header and drawn untextured (default 67108864 = 8192 x 8192)")
        ->check(CLI::Range(1LL, 16384LL * 16384LL));
  }
  // Takes effect for the whole process (the root rule is process-wide).
  void Apply() const { SetOutsideRootAllowed(AllowOutsideRoot); }
};

} // namespace quarvel::cli
