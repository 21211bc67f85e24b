#include "output/OutputSet.h"

#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/Text.h"
#include "output/Finishing.h"

#include <algorithm>
#include <limits>

namespace quarvel {

namespace {

struct TFormatWords {
  TOutputFormat Format;
  const char* Word;
  const char* Title;
};

constexpr TFormatWords Formats[] = {
    {TOutputFormat::Raw2P5D, "2p5d", "2P5D"},
    {TOutputFormat::KXZ, "kxz", "KXZ"},
    {TOutputFormat::PNG, "png", "PNG"},
};

// A PNG file written only when asked for: a map bit, or the Godot resource.
constexpr unsigned Always = 0, GodotBit = 8;

// Every output extension with the format it belongs to. A format's rows are the files of
// one angle in writing order, the sprite file first.
struct TExtension {
  const char* Word;
  TOutputFormat Format;
  TOutputKind Kind;
  unsigned AskedBy = Always;
};

constexpr TExtension Extensions[] = {
    {"2p5d", TOutputFormat::Raw2P5D, TOutputKind::Sheet2P5D},
    {"kxz", TOutputFormat::KXZ, TOutputKind::KXZContainer},
    {"p16", TOutputFormat::KXZ, TOutputKind::Palette16},
    {"png", TOutputFormat::PNG, TOutputKind::ColourSheet},
    {"json", TOutputFormat::PNG, TOutputKind::Atlas},
    {"depth.png", TOutputFormat::PNG, TOutputKind::DepthSheet, MapDepth},
    {"mask.png", TOutputFormat::PNG, TOutputKind::MaskSheet, MapMask},
    {"normal.png", TOutputFormat::PNG, TOutputKind::NormalSheet, MapNormal},
    {"tres", TOutputFormat::PNG, TOutputKind::GodotFrames, GodotBit},
};

const TFormatWords& WordsOf(TOutputFormat format) {
  for (const TFormatWords& f : Formats)
    if (f.Format == format)
      return f;
  throw Error("unknown output format " + std::to_string(static_cast<int>(format)));
}

// The angle index in the form SheetFileName writes it (std::to_string of an int32_t that
// is not negative), or -1.
long long AngleIndexOf(const std::string& digits) {
  if (digits.empty() || digits.size() > 10 || (digits.size() > 1 && digits[0] == '0') ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return -1;
  const long long angle = std::stoll(digits);
  return angle <= std::numeric_limits<int32_t>::max() ? angle : -1;
}

} // namespace

std::string FormatWord(TOutputFormat format) {
  return WordsOf(format).Word;
}

std::string FormatTitle(TOutputFormat format) {
  return WordsOf(format).Title;
}

TOutputFormat FormatFromWord(const std::string& word) {
  for (const TFormatWords& f : Formats)
    if (word == f.Word)
      return f.Format;
  throw Error("unknown output format " + Quoted(word));
}

std::optional<TOutputName> ParseOutputName(const std::string& stem, const std::string& name) {
  if (name.size() <= stem.size() + 1 || name.compare(0, stem.size(), stem) != 0 ||
      name[stem.size()] != '_')
    return std::nullopt;
  const size_t start = stem.size() + 1;
  const size_t dot = name.find('.', start);
  if (dot == std::string::npos)
    return std::nullopt;
  const long long angle = AngleIndexOf(name.substr(start, dot - start));
  if (angle < 0)
    return std::nullopt;
  const std::string extension = name.substr(dot + 1);
  for (const TExtension& e : Extensions)
    if (extension == e.Word)
      return TOutputName{e.Format, e.Kind, static_cast<int32_t>(angle)};
  return std::nullopt;
}

TOutputSet::TOutputSet(TOutputFormat format, const std::string& outputDir,
                       const std::string& jobName, int32_t angles, const TSheetOptions& sheets)
    : Format_(format), Sheets_(sheets), Stem_(JoinPath(outputDir, NormaliseSeparators(jobName))),
      Base_(Stem_.substr(Stem_.find_last_of('/') + 1)), Angles_(angles) {}

std::vector<TOutputFile> TOutputSet::FilesOfAngle(int32_t angle) const {
  std::vector<TOutputFile> files;
  const unsigned asked = Sheets_.Maps | (Sheets_.Godot ? GodotBit : 0);
  for (const TExtension& e : Extensions)
    if (e.Format == Format_ && (e.AskedBy == Always || (e.AskedBy & asked) != 0))
      files.push_back({SheetFileName(Stem_, angle, e.Word), angle, e.Kind});
  return files;
}

std::string TOutputSet::SpriteName(int32_t angle) const {
  return FilesOfAngle(angle).front().Name;
}

std::vector<TOutputFile> TOutputSet::Files() const {
  std::vector<TOutputFile> files;
  for (int32_t a = 0; a < Angles_; ++a)
    for (TOutputFile& file : FilesOfAngle(a))
      files.push_back(std::move(file));
  return files;
}

std::vector<std::string> TOutputSet::FileNames() const {
  std::vector<std::string> names;
  for (const TOutputFile& file : Files())
    names.push_back(file.Name);
  return names;
}

std::optional<TOutputName> TOutputSet::Recognise(const std::string& path) const {
  return ParseOutputName(Stem_, path);
}

std::optional<TOutputName> TOutputSet::RecogniseInFolder(const std::string& fileName) const {
  return ParseOutputName(Base_, fileName);
}

bool TOutputSet::IsFileOfFormat(const std::string& path) const {
  const std::optional<TOutputName> name = Recognise(path);
  return name && name->Format == Format_;
}

} // namespace quarvel
