// The options of PNG sheets (output/OutputSet.h: TSheetOptions), shared by render, which
// writes them, and list, which names the files they make. They belong to --format png
// alone: with another format they are a wrong command line, not ignored.
#pragma once

#include "common/Text.h"
#include "jobs/JobRunner.h"

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace quarvel::cli {

struct TSheetArgs {
  std::vector<std::string> Maps;
  std::string Atlas = "json";
  TSheetOptions Sheets;

  void AddTo(CLI::App* sub) {
    Options_ = {
        sub->add_option("--maps", Maps,
                        "With --format png: also write these sheets of each angle, any of "
                        "depth (8-bit grey depth byte), mask (8-bit grey side shade, the team "
                        "colour mask) and normal (screen-space normals, +Y up), comma-separated")
            ->delimiter(',')
            ->check(CLI::IsMember({"depth", "mask", "normal"}, CLI::ignore_case)),
        sub->add_flag("--palette", Sheets.Palette,
                      "With --format png: the colours of the paletted output (after the "
                      "palette and the side ramp) instead of the visual pass's own"),
        sub->add_option("--atlas", Atlas,
                        "With --format png: json (the JSON atlas only, the default) or godot "
                        "(also a Godot 4 SpriteFrames resource NAME_a.tres)")
            ->check(CLI::IsMember({"json", "godot"}, CLI::ignore_case)),
        sub->add_option("--res-prefix", Sheets.ResPrefix,
                        "With --atlas godot: what the resource's paths start with, before the "
                        "job's folder (default res://)"),
        sub->add_option("--fps", Sheets.Fps,
                        "With --format png: frames per second, for each frame's duration in "
                        "the atlas (default 10)")
            ->check(CLI::Range(1, 1000)),
        sub->add_option("--sheet-max", Sheets.SheetMax,
                        "With --format png: frames wrap to a new row before a sheet gets wider "
                        "than this many pixels (default 4096)")
            ->check(CLI::Range(1, 1 << 20)),
        sub->add_flag("--normal-y-down", Sheets.NormalYDown,
                      "With --maps normal: green points down (the DirectX convention) instead "
                      "of up (OpenGL's, which Godot and Unity expect)")};
  }

  // Puts the options into `options` once the command line is read; `format` is the
  // --format word in lower case.
  void ApplyTo(TJobOptions& options, const std::string& format) const {
    for (const CLI::Option* option : Options_)
      if (option->count() > 0 && format != "png")
        throw CLI::ValidationError(option->get_name(), "needs --format png");
    TSheetOptions sheets = Sheets;
    for (std::string map : Maps) {
      LowerCaseASCII(map);
      sheets.Maps |= map == "depth" ? MapDepth : map == "mask" ? MapMask : MapNormal;
    }
    std::string atlas = Atlas;
    LowerCaseASCII(atlas);
    sheets.Godot = atlas == "godot";
    for (const char c : sheets.ResPrefix)
      if (static_cast<unsigned char>(c) < 32)
        throw CLI::ValidationError("--res-prefix", "holds a control character");
    options.Sheets = sheets;
  }

private:
  std::vector<const CLI::Option*> Options_;
};

} // namespace quarvel::cli
