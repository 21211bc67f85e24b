// The atlas of one angle's PNG sheet, in the "JSON (hash)" form of sprite packers that
// Phaser, PixiJS and most 2D engines read as it is, and the same as a Godot 4
// SpriteFrames resource.
//
// JSON, keys in this order:
//   frames:     one entry per frame in frame order, keyed FrameKey (JOB/ANGLE/FRAME, JOB
//               the job name's last component, FRAME the frame number from 1 in four
//               digits: "tank/0/0003"): frame {x, y, w, h} on the sheet (output/
//               SpriteSheet.h), rotated false, trimmed (frame smaller than the view),
//               spriteSourceSize {x, y, w, h} (where the frame sits in the view: gap
//               removal cuts the same margin from both sides), sourceSize {w, h} (the
//               view), pivot and anchor {x: 0.5, y: 0.5} (the view's centre, which gap
//               removal keeps), duration in ms (1000 / Fps, rounded);
//   animations: {"JOB/ANGLE": [the frame keys in order]};
//   meta:       app "quarvel", version, image (the colour sheet's file name), format
//               "RGBA8888", size {w, h}, scale "1", normalMap (only with a normal map),
//               frameTags [{name "JOB/ANGLE", from 0, to frames - 1, direction "forward"}],
//               quarvel {angle (the index), degrees, angles (every angle's degrees in
//               index order), frames, depthMap and maskMap (file names, only when
//               written), scale, zmax}.
//
// Godot: one Texture2D ext_resource per sheet (the colour sheet, and the normal map when
// there is one, joined in a CanvasTexture), one AtlasTexture per frame (region = frame,
// margin = the cut margins, so every frame has the view's size and its centre at the
// view's centre), one looping animation "JOB/ANGLE" at Fps frames a second. Paths are
// TSheetOptions::ResPrefix + the job's folder + the file name.
#pragma once

#include "output/OutputSet.h"
#include "output/SpriteSheet.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarvel {

struct TAtlasFacts {
  std::string Job;                   // the job name ("units/tank")
  int32_t Angle = 0;                 // the sheet's angle index
  std::vector<int32_t> AngleDegrees; // every angle's degrees, in index order
  int32_t Frames = 0;
  TSheetGrid Grid;
  int32_t ViewWidth = 0; // the untrimmed frame
  int32_t ViewHeight = 0;
  // The sheets' file names without their folder; "" for a map not written.
  std::string Image, DepthImage, MaskImage, NormalImage;
  double Scale = 1;
  int32_t ZMax = 127;
  std::string Version;
  TSheetOptions Options;
};

// "tank/0/0003" for frame index 2 (frame number 3) of angle 0 of job "units/tank".
std::string FrameKey(const std::string& job, int32_t angle, int32_t frameIndex);

std::string AtlasJSON(const TAtlasFacts& facts);
std::string GodotSpriteFrames(const TAtlasFacts& facts);

} // namespace quarvel
