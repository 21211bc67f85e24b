// Palettes and output of a rendered job: one file per angle (raw 2P5D, or a KXZ container
// with its ".p16" palette), named SettingsName + "_" + angle index below OutputDir.
//
// A job writes nothing until every sheet is finished and every file's bytes are made in
// memory; the files are then written as one set (WriteFilesAtomic): a job that fails on
// the way, or cannot write one of its files, leaves the previous output set as it was,
// with neither partial files nor a mix of old and new angles.
#include "colour/Palette.h"
#include "common/AtomicFile.h"
#include "common/Error.h"
#include "common/FileLookup.h"
#include "image/Image.h"
#include "jobs/Manager.h"
#include "output/Finishing.h"
#include "output/KXFile.h"
#include "output/Palette16.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quarvel {

void T2P5D_Manager::MakePalettes() {
  BuildSheetPalettes(Sheets, SingleOutput,
                     [this](int32_t Percent, const std::string& Text) { Report(Percent, Text); });
}

std::string T2P5D_Manager::OutputName(int32_t Angle, bool AsKXZ) const {
  return JoinPath(OutputDir,
                  SheetFileName(NormaliseSeparators(SettingsName), Angle, AsKXZ ? "kxz" : "2p5d"));
}

void T2P5D_Manager::SaveSheets(bool AsKXZ) {
  const std::string Format = AsKXZ ? "KXZ" : "2P5D";
  WrittenFiles.clear();
  Report(0, "Saving as " + Format);

  std::vector<TPendingFile> pending;
  const int32_t count = static_cast<int32_t>(Sheets.size());
  for (int32_t a = 0; a < count; ++a) {
    // The last angle reports 100; a job of one angle reports 0 (0 / 0 would be NaN).
    const int32_t percent =
        count > 1 ? static_cast<int32_t>(static_cast<long double>(a) / (count - 1) * 100.0L) : 0;
    Report(percent, "Saving as " + Format + "s");
    TAngleSheet& sheet = Sheets[static_cast<size_t>(a)];
    // Finishing maps colours against entries 0..24 still holding the background key and
    // then overwrites them with the ramp: a second save must not map again against the
    // ramp, so a sheet is finished once (its IndexPlane exists from then on).
    if (sheet.IndexPlane.empty())
      FinishSheet(sheet);
    const std::string name = OutputName(a, AsKXZ);
    if (AsKXZ) {
      pending.push_back({name, SheetToKXZ(sheet)});
      pending.push_back({Palette16Name(name), Palette16Bytes(sheet.Palette)});
    } else {
      pending.push_back({name, Make2P5D(sheet)});
    }
  }

  const size_t sprites = pending.size();
  std::vector<std::string> remove;
  if (OnOutputSet)
    OnOutputSet(pending, remove);
  WriteFilesAtomic(pending);
  for (size_t i = 0; i < sprites; ++i)
    WrittenFiles.push_back(pending[i].Name);
  for (const std::string& file : remove)
    if (std::remove(file.c_str()) != 0 && errno != ENOENT)
      Warn(file + ": cannot remove this output of an earlier render: " + std::strerror(errno));
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
