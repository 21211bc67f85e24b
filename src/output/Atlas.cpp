#include "output/Atlas.h"

#include "common/Error.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <iterator>

namespace quarvel {

namespace {

using TJson = nlohmann::ordered_json;

std::string BaseOf(const std::string& job) {
  return job.substr(job.find_last_of('/') + 1);
}

std::string FolderOf(const std::string& job) {
  const size_t slash = job.find_last_of('/');
  return slash == std::string::npos ? std::string() : job.substr(0, slash + 1);
}

std::string AnimationName(const TAtlasFacts& f) {
  return BaseOf(f.Job) + "/" + std::to_string(f.Angle);
}

int32_t MarginX(const TAtlasFacts& f) {
  return (f.ViewWidth - f.Grid.FrameWidth) / 2;
}

int32_t MarginY(const TAtlasFacts& f) {
  return (f.ViewHeight - f.Grid.FrameHeight) / 2;
}

void Check(const TAtlasFacts& f) {
  if (f.Options.Fps <= 0 || f.Frames <= 0 || f.Grid.Columns * f.Grid.Rows < f.Frames)
    throw Error("an atlas needs frames on a grid and a positive frame rate");
}

// A Godot resource string: quoted, with backslashes and quotes escaped.
std::string GodotString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\')
      out += '\\';
    out += c;
  }
  return out + "\"";
}

} // namespace

std::string FrameKey(const std::string& job, int32_t angle, int32_t frameIndex) {
  char number[16];
  std::snprintf(number, sizeof number, "%04d", static_cast<int>(frameIndex + 1));
  return BaseOf(job) + "/" + std::to_string(angle) + "/" + number;
}

std::string AtlasJSON(const TAtlasFacts& f) {
  Check(f);
  const TSheetGrid& g = f.Grid;
  const bool trimmed = g.FrameWidth != f.ViewWidth || g.FrameHeight != f.ViewHeight;
  const int32_t duration = static_cast<int32_t>(std::lround(1000.0 / f.Options.Fps));
  TJson frames = TJson::object();
  TJson keys = TJson::array();
  for (int32_t i = 0; i < f.Frames; ++i) {
    const std::string key = FrameKey(f.Job, f.Angle, i);
    keys.push_back(key);
    frames[key] = {
        {"frame",
         {{"x", g.FrameX(i)}, {"y", g.FrameY(i)}, {"w", g.FrameWidth}, {"h", g.FrameHeight}}},
        {"rotated", false},
        {"trimmed", trimmed},
        {"spriteSourceSize",
         {{"x", MarginX(f)}, {"y", MarginY(f)}, {"w", g.FrameWidth}, {"h", g.FrameHeight}}},
        {"sourceSize", {{"w", f.ViewWidth}, {"h", f.ViewHeight}}},
        {"pivot", {{"x", 0.5}, {"y", 0.5}}},
        {"anchor", {{"x", 0.5}, {"y", 0.5}}},
        {"duration", duration}};
  }
  const std::string animation = AnimationName(f);
  TJson meta = {{"app", "quarvel"},
                {"version", f.Version},
                {"image", f.Image},
                {"format", "RGBA8888"},
                {"size", {{"w", g.Width()}, {"h", g.Height()}}},
                {"scale", "1"}};
  if (!f.NormalImage.empty())
    meta["normalMap"] = f.NormalImage;
  meta["frameTags"] = TJson::array(
      {{{"name", animation}, {"from", 0}, {"to", f.Frames - 1}, {"direction", "forward"}}});
  TJson own = {{"angle", f.Angle},
               {"degrees", f.AngleDegrees.at(static_cast<size_t>(f.Angle))},
               {"angles", f.AngleDegrees},
               {"frames", f.Frames}};
  if (!f.DepthImage.empty())
    own["depthMap"] = f.DepthImage;
  if (!f.MaskImage.empty())
    own["maskMap"] = f.MaskImage;
  own["scale"] = f.Scale;
  own["zmax"] = f.ZMax;
  meta["quarvel"] = own;
  // One line per frame and per meta field: a sheet of hundreds of frames stays a file one
  // can read, and a line-based diff of two renders shows which frames moved.
  auto lines = [](const TJson& object) {
    std::string text;
    for (auto it = object.begin(); it != object.end(); ++it)
      text += "\t" + TJson(it.key()).dump() + ": " + it.value().dump() +
              (std::next(it) == object.end() ? "\n" : ",\n");
    return text;
  };
  return "{\n\"frames\": {\n" + lines(frames) + "},\n\"animations\": {\n" +
         lines(TJson{{animation, keys}}) + "},\n\"meta\": {\n" + lines(meta) + "}\n}\n";
}

std::string GodotSpriteFrames(const TAtlasFacts& f) {
  Check(f);
  const TSheetGrid& g = f.Grid;
  const std::string folder = f.Options.ResPrefix + FolderOf(f.Job);
  const bool normal = !f.NormalImage.empty();
  // Every ext_resource and sub_resource, and the resource itself.
  const int32_t steps = 1 + (normal ? 3 : 1) + f.Frames;
  std::string out =
      "[gd_resource type=\"SpriteFrames\" load_steps=" + std::to_string(steps) + " format=3]\n\n";
  out += "[ext_resource type=\"Texture2D\" path=" + GodotString(folder + f.Image) +
         " id=\"1_sheet\"]\n";
  std::string atlas = "ExtResource(\"1_sheet\")";
  if (normal) {
    out += "[ext_resource type=\"Texture2D\" path=" + GodotString(folder + f.NormalImage) +
           " id=\"2_normal\"]\n\n";
    out += "[sub_resource type=\"CanvasTexture\" id=\"CanvasTexture_sheet\"]\n"
           "diffuse_texture = ExtResource(\"1_sheet\")\n"
           "normal_texture = ExtResource(\"2_normal\")\n";
    atlas = "SubResource(\"CanvasTexture_sheet\")";
  }
  const std::string margin = "Rect2(" + std::to_string(MarginX(f)) + ", " +
                             std::to_string(MarginY(f)) + ", " + std::to_string(2 * MarginX(f)) +
                             ", " + std::to_string(2 * MarginY(f)) + ")";
  std::string list;
  for (int32_t i = 0; i < f.Frames; ++i) {
    const std::string id = "AtlasTexture_" + std::to_string(i);
    out += "\n[sub_resource type=\"AtlasTexture\" id=\"" + id + "\"]\natlas = " + atlas +
           "\nregion = Rect2(" + std::to_string(g.FrameX(i)) + ", " + std::to_string(g.FrameY(i)) +
           ", " + std::to_string(g.FrameWidth) + ", " + std::to_string(g.FrameHeight) +
           ")\nmargin = " + margin + "\n";
    list += std::string(i ? ", " : "") + "{\n\"duration\": 1.0,\n\"texture\": SubResource(\"" + id +
            "\")\n}";
  }
  out += "\n[resource]\nanimations = [{\n\"frames\": [" + list +
         "],\n\"loop\": true,\n\"name\": &" + GodotString(AnimationName(f)) +
         ",\n\"speed\": " + std::to_string(f.Options.Fps) + ".0\n}]\n";
  return out;
}

} // namespace quarvel
