// Palettes and output of a rendered job: one file per angle (raw 2P5D, or a KXZ container
// with its ".p16" palette, or a PNG sheet with its atlas and maps), named SettingsName + "_" +
// angle index below OutputDir (output/OutputSet.h).
//
// A job writes nothing until every sheet is finished and every file's bytes are made in
// memory; the files are then written as one set (WriteFilesAtomic): a job that fails on
// the way, or cannot write one of its files, leaves the previous output set as it was,
// with neither partial files nor a mix of old and new angles. The set's renames run under
// the set's lock (common/OutputLock.h), so that two processes rendering the same job into
// the same folder at once leave the whole set of one of them.
//
// Files of an earlier render with more angles (tank_2.kxz, tank_3.kxz after the job was
// cut to two angles) are not part of the new set: they are named in a warning and left
// alone (removing files the job did not write is not the job's call).
#include "colour/Palette.h"
#include "common/AtomicFile.h"
#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/OutputLock.h"
#include "common/Path.h"
#include "image/Image.h"
#include "jobs/Manager.h"
#include "output/Atlas.h"
#include "output/Finishing.h"
#include "output/KXFile.h"
#include "output/OutputSet.h"
#include "output/Palette16.h"
#include "output/SpriteSheet.h"

#include <algorithm>
#include <filesystem>
#include <optional>

namespace fs = std::filesystem;
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quarvel {

namespace {

// The bytes of one output file of a finished sheet.
std::vector<uint8_t> FileBytes(const TAngleSheet& sheet, TOutputKind kind) {
  switch (kind) {
  case TOutputKind::Sheet2P5D:
    return Make2P5D(sheet);
  case TOutputKind::KXZContainer:
    return SheetToKXZ(sheet);
  case TOutputKind::Palette16:
    return Palette16Bytes(sheet.Palette);
  default:
    break;
  }
  throw Error("unknown output file kind " + std::to_string(static_cast<int>(kind)));
}

// The name of the file of `kind` among `files`, without its folder; "" when not there.
std::string FileOfKind(const std::vector<TOutputFile>& files, TOutputKind kind) {
  for (const TOutputFile& file : files)
    if (file.Kind == kind)
      return file.Name.substr(file.Name.find_last_of('/') + 1);
  return std::string();
}

// The bytes of the PNG format's file `file` of `sheet`, angle file.Angle of `job`.
std::vector<uint8_t> SheetFileBytes(const T2P5D_Manager& job, const TAngleSheet& sheet,
                                    const TOutputSet& set, const TOutputFile& file) {
  const TSheetOptions& options = set.Sheets();
  const TSheetGrid grid =
      SheetGridOf(sheet.FrameCount(), sheet.FrameWidth, sheet.Height, options.SheetMax);
  if (file.Kind == TOutputKind::Atlas || file.Kind == TOutputKind::GodotFrames) {
    const std::vector<TOutputFile> files = set.FilesOfAngle(file.Angle);
    TAtlasFacts facts;
    facts.Job = NormaliseSeparators(job.SettingsName);
    facts.Angle = file.Angle;
    facts.AngleDegrees = job.Angles;
    facts.Frames = sheet.FrameCount();
    facts.Grid = grid;
    facts.ViewWidth = job.ViewWidth;
    facts.ViewHeight = job.ViewHeight;
    facts.Image = FileOfKind(files, TOutputKind::ColourSheet);
    facts.DepthImage = FileOfKind(files, TOutputKind::DepthSheet);
    facts.MaskImage = FileOfKind(files, TOutputKind::MaskSheet);
    facts.NormalImage = FileOfKind(files, TOutputKind::NormalSheet);
    facts.Scale = static_cast<double>(job.Scale);
    facts.ZMax = job.ZMax;
    facts.Version = QUARVEL_VERSION;
    facts.Options = options;
    const std::string text =
        file.Kind == TOutputKind::Atlas ? AtlasJSON(facts) : GodotSpriteFrames(facts);
    return std::vector<uint8_t>(text.begin(), text.end());
  }
  const std::vector<uint8_t> pixels = SheetPixels(sheet, grid, file.Kind, options);
  return EncodePNG(file.Name, grid.Width(), grid.Height(), SheetChannels(file.Kind), pixels.data(),
                   job.PNGLevel);
}

// The output files of the job of `set` (of any format) for angles from set.Angles() on, in
// angle order.
std::vector<std::string> StaleOutputs(const TOutputSet& set) {
  const fs::path path = PathOf(set.Stem());
  const fs::path dir = path.parent_path().empty() ? fs::path(".") : path.parent_path();
  std::vector<std::pair<int32_t, std::string>> found;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string file = Utf8Of(it->path().filename());
    const std::optional<TOutputName> name = set.RecogniseInFolder(file);
    if (name && name->Angle >= set.Angles())
      found.emplace_back(name->Angle, file);
  }
  std::sort(found.begin(), found.end());
  // Named as the program names every output, with '/' (path / file would put the
  // system's own separator before the file on Windows: out/units\tank_2.kxz).
  const std::string folder = Utf8Of(path.parent_path());
  std::vector<std::string> names;
  for (const auto& [angle, file] : found)
    names.push_back(JoinPath(folder, file));
  return names;
}

} // namespace

void T2P5D_Manager::MakePalettes() {
  BuildSheetPalettes(Sheets, SingleOutput,
                     [this](int32_t Percent, const std::string& Text) { Report(Percent, Text); });
}

TOutputSet T2P5D_Manager::OutputSet(TOutputFormat Format) const {
  return TOutputSet(Format, OutputDir, SettingsName, static_cast<int32_t>(Angles.size()),
                    SheetOptions);
}

std::string T2P5D_Manager::OutputName(int32_t Angle, TOutputFormat Format) const {
  return OutputSet(Format).SpriteName(Angle);
}

void T2P5D_Manager::SaveSheets(TOutputFormat Format) {
  const std::string Title = FormatTitle(Format);
  WrittenFiles.clear();
  Report(0, "Saving as " + Title);

  const int32_t count = static_cast<int32_t>(Sheets.size());
  const TOutputSet set(Format, OutputDir, SettingsName, count, SheetOptions);
  std::vector<TPendingFile> pending;
  for (int32_t a = 0; a < count; ++a) {
    // The last angle reports 100; a job of one angle reports 0 (0 / 0 would be NaN).
    const int32_t percent =
        count > 1 ? static_cast<int32_t>(static_cast<long double>(a) / (count - 1) * 100.0L) : 0;
    Report(percent, "Saving as " + Title + "s");
    TAngleSheet& sheet = Sheets[static_cast<size_t>(a)];
    // Finishing maps colours against entries 0..24 still holding the background key and
    // then overwrites them with the ramp: a second save must not map again against the
    // ramp, so a sheet is finished once (its IndexPlane exists from then on).
    if (sheet.IndexPlane.empty())
      FinishSheet(sheet);
    for (const TOutputFile& file : set.FilesOfAngle(a))
      pending.push_back({file.Name, Format == TOutputFormat::PNG
                                        ? SheetFileBytes(*this, sheet, set, file)
                                        : FileBytes(sheet, file.Kind)});
  }

  const size_t sprites = pending.size();
  std::vector<std::string> remove;
  if (OnOutputSet)
    OnOutputSet(pending, remove);
  const std::vector<std::string> notRemoved =
      WriteFilesAtomic(pending, TSetLock{OutputLockFileName(set.Stem()), set.Stem(),
                                         WaitForOutputLock, remove, OutputLockLimitSeconds});
  for (size_t i = 0; i < sprites; ++i)
    WrittenFiles.push_back(pending[i].Name);
  for (const std::string& message : notRemoved)
    Warn(message);

  // What the manifest did not remove (no manifest, or files it did not list).
  const std::vector<std::string> stale = StaleOutputs(set);
  if (!stale.empty()) {
    constexpr size_t shown = 8;
    std::string list;
    for (size_t i = 0; i < stale.size() && i < shown; ++i)
      list += (i ? ", " : "") + stale[i];
    if (stale.size() > shown)
      list += " and " + std::to_string(stale.size() - shown) + " more";
    const bool one = stale.size() == 1;
    Warn(Located(SettingsFile, 0,
                 std::string(one ? "a file" : std::to_string(stale.size()) + " files") +
                     " left by an earlier render with more angles " + (one ? "was" : "were") +
                     " not replaced (this job has " + std::to_string(count) +
                     (count == 1 ? " angle" : " angles") + "): " + list + "; remove " +
                     (one ? "it" : "them") + " if no longer wanted"));
  }
  Report(0, "Finished!");
}

void T2P5D_Manager::DumpSheets(const std::string& Dir) const {
  const std::string base = JoinPath(Dir, NormaliseSeparators(SettingsName));
  for (size_t a = 0; a < Sheets.size(); ++a) {
    const TAngleSheet& s = Sheets[a];
    const std::string stem = base + "_" + std::to_string(a);
    // The colour plane is blue, green, red; PNG wants red, green, blue.
    std::vector<uint8_t> rgb(s.ColourPlane.size());
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
      rgb[i] = s.ColourPlane[i + 2];
      rgb[i + 1] = s.ColourPlane[i + 1];
      rgb[i + 2] = s.ColourPlane[i];
    }
    WritePNG(stem + ".colour.png", s.SheetWidth, s.Height, 3, rgb.data());
    WritePNG(stem + ".depth.png", s.SheetWidth, s.Height, 1, s.DepthPlane.data());
    WritePNG(stem + ".side.png", s.SheetWidth, s.Height, 1, s.SidePlane.data());
  }
}

} // namespace quarvel
