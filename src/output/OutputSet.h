// The files a job writes, per output format, and the one reading of their names.
//
// A job "units/tank" of N angles writes, below its output folder, per angle in angle order:
//   2p5d: STEM_a.2p5d                 (raw 2P5D file, output/Finishing.h)
//   kxz:  STEM_a.kxz, then STEM_a.p16 (mode 'Z' container and its palette, output/KXFile.h)
//   png:  STEM_a.png, STEM_a.json (RGBA sheet and its atlas, output/SpriteSheet.h), then
//         the maps asked for: STEM_a.depth.png, STEM_a.mask.png, STEM_a.normal.png, then
//         STEM_a.tres with --atlas godot
// STEM being the output folder joined with the job name ("\" as "/"), a the angle index in
// decimal. The saving code, the probe before drawing, `list --json`, the manifests and the
// search for stale outputs all take the names from here, so a format is added here once.
//
// A name is read back (ParseOutputName) only in the form SheetFileName writes it: an angle
// index an int32_t holds, in decimal without sign or leading zero. "tank_07.kxz" or
// "tank_99999999999.kxz" may be a user's file; no render ever wrote them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quarvel {

// The output formats. Each has a word (FormatWord): what --format takes, what a
// manifest's options line records, and its sprite files' extension.
enum class TOutputFormat { Raw2P5D, KXZ, PNG };

// The pictures a PNG job writes beside its colour sheets (--maps), one bit each.
enum TSheetMap : unsigned { MapDepth = 1, MapMask = 2, MapNormal = 4 };

// How a PNG job writes its sheets; the other formats ignore all of it. Every field changes
// the bytes or the files of the set, so all of them are manifest options.
struct TSheetOptions {
  unsigned Maps = 0;        // TSheetMap bits
  bool Godot = false;       // a Godot 4 SpriteFrames resource beside each atlas
  bool Palette = false;     // colours after the palette and the side ramp, as KXZ shows them
  bool NormalYDown = false; // the normal map's green points down instead of up
  int32_t Fps = 10;         // each frame's duration is 1000 / Fps ms
  int32_t SheetMax = 4096;  // a row of frames wraps before the sheet gets wider than this
  std::string ResPrefix = "res://"; // what the Godot resource's paths start with
};

// "2p5d", "kxz", "png".
std::string FormatWord(TOutputFormat format);
// "2P5D", "KXZ", "PNG": the format as the saving status names it ("Saving as KXZ").
std::string FormatTitle(TOutputFormat format);
// The format whose word is `word` (lower case, as the command line leaves it after its
// check). Throws quarvel::Error for any other word.
TOutputFormat FormatFromWord(const std::string& word);

// What one output file holds.
enum class TOutputKind {
  Sheet2P5D,
  KXZContainer,
  Palette16,
  ColourSheet,
  Atlas,
  DepthSheet,
  MaskSheet,
  NormalSheet,
  GodotFrames
};

struct TOutputFile {
  std::string Name; // STEM_<angle>.<extension>
  int32_t Angle = 0;
  TOutputKind Kind = TOutputKind::Sheet2P5D;
};

// What an output file's name says.
struct TOutputName {
  TOutputFormat Format = TOutputFormat::Raw2P5D;
  TOutputKind Kind = TOutputKind::Sheet2P5D;
  int32_t Angle = 0;
};

// `name` read as stem + "_" + angle + "." + extension, the extension being one of any
// format's (a ".p16" counts as KXZ). Nothing for any other name, or for an angle written
// in a form SheetFileName does not write (see above). Case matters, as names are written.
// The extension is all that follows the first dot after the angle ("depth.png").
std::optional<TOutputName> ParseOutputName(const std::string& stem, const std::string& name);

// The output set of one job in one format.
class TOutputSet {
public:
  // `outputDir` "" is the current folder; `jobName` is the settings name (no extension).
  // `sheets` says which files of a PNG set are written.
  TOutputSet(TOutputFormat format, const std::string& outputDir, const std::string& jobName,
             int32_t angles, const TSheetOptions& sheets = {});

  TOutputFormat Format() const { return Format_; }
  const TSheetOptions& Sheets() const { return Sheets_; }
  int32_t Angles() const { return Angles_; }
  // The output folder joined with the job name: the files' common start, and what the
  // set's lock is named after.
  const std::string& Stem() const { return Stem_; }

  // The files of one angle in writing order: the sprite file first, then what belongs
  // with it (a KXZ container's palette, a PNG sheet's atlas and maps). `angle` need not be below
  // Angles().
  std::vector<TOutputFile> FilesOfAngle(int32_t angle) const;
  // The sprite file of `angle`: FilesOfAngle(angle).front().Name.
  std::string SpriteName(int32_t angle) const;
  // Every file of the set, angle by angle, each angle's files as FilesOfAngle gives them.
  std::vector<TOutputFile> Files() const;
  std::vector<std::string> FileNames() const;

  // `path`, named as the set names its files (folder included), read as a file of this
  // job of any format and any angle (ParseOutputName against Stem()).
  std::optional<TOutputName> Recognise(const std::string& path) const;
  // The same for a name without folder, listed in the set's folder.
  std::optional<TOutputName> RecogniseInFolder(const std::string& fileName) const;
  // True when Recognise reads `path` as a file of this set's format, whatever its angle.
  bool IsFileOfFormat(const std::string& path) const;

private:
  TOutputFormat Format_;
  TSheetOptions Sheets_;
  std::string Stem_;
  std::string Base_; // Stem_'s last component
  int32_t Angles_;
};

} // namespace quarvel
