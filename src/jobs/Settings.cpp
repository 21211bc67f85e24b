// The ".settings" file: reading, include expansion and one line at a time.
//
// A settings file is a list of "keyword arguments" lines:
//   angle SLOT DEGREES      frame NUMBER MODEL.obj ("%model%" = the settings name)
//   scale VALUE             zmax VALUE (low 8 bits kept)     singleoutput
//   include FILE            (relative to the root folder, expanded before anything applies)
//   scene NUMBER FILE [CLIP [SECONDS]]          a scene file posed at a time of a clip
//   clip FIRST COUNT FILE CLIP [START END]      COUNT frames sampling a clip evenly
// Unknown keywords are ignored, and numbers that do not parse take defaults; both are
// reported as warnings so that a typo such as "angle 1 90deg" does not vanish silently.
#include "common/Convert.h"
#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/Path.h"
#include "common/Text.h"
#include "jobs/Manager.h"
#include "models/ModelLoader.h"
#include "models/OBJFile.h"
#include "models/Scene.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iterator>
#include <locale>
#include <sstream>

namespace quarvel {

namespace {

// White space of the settings format: every code from 0 to 32, as TrimBlanks takes it.
bool IsWhite(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::string TrimLeft(const std::string& s) {
  size_t b = 0;
  while (b < s.size() && IsWhite(s[b]))
    ++b;
  return s.substr(b);
}

std::string TrimRight(const std::string& s) {
  size_t e = s.size();
  while (e > 0 && IsWhite(s[e - 1]))
    --e;
  return s.substr(0, e);
}

std::string Trim(const std::string& s) {
  return std::string(TrimBlanks(s));
}

// The same file for cycle detection, whatever way its name was written.
std::string FileKey(const std::string& path) {
  std::error_code ec;
  auto canonical = std::filesystem::weakly_canonical(PathOf(path), ec);
  return ec ? path : Utf8Of(canonical);
}

// Replaces every "%model%", letters compared without regard to case.
std::string ReplaceModelPlaceholder(const std::string& text, const std::string& model) {
  static const std::string key = "%model%";
  std::string out;
  const std::string lower = ToLowerASCII(text);
  size_t pos = 0;
  for (;;) {
    size_t hit = lower.find(key, pos);
    if (hit == std::string::npos)
      break;
    out.append(text, pos, hit - pos);
    out += model;
    pos = hit + key.size();
  }
  out.append(text, pos, std::string::npos);
  return out;
}

// Extended-precision reading of a value that TryStrToFloat accepted, so the scale keeps
// every bit the margin copies are computed from.
long double ParseExtended(const std::string& text) {
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  long double v = 0;
  in >> v;
  return v;
}

std::string FormatScale(long double v) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << static_cast<double>(v);
  return out.str();
}

// Bounds of the expanded list. Expansion ends for every finite set of files without a
// cycle except one: an include line whose text also stands inside an earlier line is
// replaced there (the replacement is textual), and when the included text brings the
// include back, it grows for ever. Each expansion either grows the list or removes an
// occurrence, so bounding the lines and the text bounds everything; a legitimate file,
// however many includes it has, stays far below (a job has at most a few thousand
// meaningful lines).
constexpr size_t MaxExpandedLines = 1000000;
constexpr size_t MaxExpandedBytes = size_t(64) << 20;
// Replacements inside earlier lines cost a pass over the lines before the walk; real files
// have one per comment that names an include, so this many means the expansion repeats.
constexpr size_t MaxEarlierLineExpansions = 1000;

// Deepest nesting of includes (the settings file itself is depth 0). Real jobs nest two or
// three levels; a deeper chain is a mistake (files that include one another under ever
// new names), and every level copies the chain for the cycle check, so it is refused at
// the include that goes one level too deep.
constexpr size_t MaxIncludeDepth = 64;

// The blank-separated words of a line's argument.
std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsWhite(text[i]))
      ++i;
    const size_t start = i;
    while (i < text.size() && !IsWhite(text[i]))
      ++i;
    if (i > start)
      words.push_back(text.substr(start, i - start));
  }
  return words;
}

// True when the line holds "include " in any letter case somewhere: only such a line can
// hold the text of an include line (which starts with it).
bool MentionsInclude(const std::string& text) {
  static const char word[] = "include ";
  for (size_t at = 0; at + 8 <= text.size(); ++at) {
    size_t k = 0;
    while (k < 8 && LowerASCII(text[at + k]) == word[k])
      ++k;
    if (k == 8)
      return true;
  }
  return false;
}

// Settings lines that are comments: "#", ";" or "//" first (after blanks). They are
// ignored like any line the job does not know, but without a warning each.
bool IsCommentLine(const std::string& trimmed) {
  return !trimmed.empty() &&
         (trimmed[0] == '#' || trimmed[0] == ';' || trimmed.compare(0, 2, "//") == 0);
}

} // namespace

std::string MoreWarningsNote(size_t total) {
  if (total <= MaxShownWarnings)
    return std::string();
  return "and " + Counted(static_cast<int64_t>(total - MaxShownWarnings), "more warning");
}

std::vector<std::string> ShownWarnings(const std::vector<std::string>& warnings) {
  std::vector<std::string> shown(
      warnings.begin(),
      warnings.begin() + static_cast<std::ptrdiff_t>(std::min(warnings.size(), MaxShownWarnings)));
  const std::string more = MoreWarningsNote(warnings.size());
  if (!more.empty())
    shown.push_back(more);
  return shown;
}

std::string T2P5D_Manager::RootShown() const {
  std::string root = NormaliseSeparators(RootDir.empty() ? std::string(".") : RootDir);
  if (root.back() != '/')
    root += "/";
  return root;
}

std::vector<TSettingsLine>
T2P5D_Manager::ExpandSettings(const std::string& file, std::vector<std::string>* filesRead) const {
  auto readLines = [filesRead](const std::string& path,
                               const std::shared_ptr<const std::vector<std::string>>& chain,
                               TPipes pipes = TPipes::Refuse) {
    std::vector<TSettingsLine> out;
    const std::string text = ReadWholeFile(path, MaxSettingsFileBytes, "settings file", pipes);
    if (filesRead)
      filesRead->push_back(path);
    ForEachLine(DropByteOrderMark(text), [&](std::string_view line, int32_t index) {
      out.push_back(TSettingsLine{std::string(line), path, index + 1, chain});
    });
    return out;
  };
  auto bytesOf = [](const std::vector<TSettingsLine>& lines) {
    size_t bytes = 0;
    for (const TSettingsLine& line : lines)
      bytes += line.Text.size() + 1;
    return bytes;
  };

  // The walk: `done` holds the lines before the walk position, `pending` the lines from
  // it on in reverse order (the next line last), so that replacing the line at the walk
  // position costs only the lines inserted. `hosts` are the lines of `done` that mention
  // "include ", the only ones an include line's text can stand in.
  const std::string top = ResolvePath(file);
  std::vector<TSettingsLine> pending =
      readLines(top, std::make_shared<const std::vector<std::string>>(1, top), TPipes::Accept);
  size_t totalLines = pending.size();
  size_t totalBytes = bytesOf(pending);
  std::reverse(pending.begin(), pending.end());
  std::vector<TSettingsLine> done;
  std::vector<size_t> hosts;
  size_t earlierLineExpansions = 0;

  while (!pending.empty()) {
    TSettingsLine at = std::move(pending.back());
    pending.pop_back();
    const std::string t = Trim(at.Text);
    if (t.size() < 8 || ToLowerASCII(t.substr(0, 8)) != "include ") {
      if (MentionsInclude(at.Text))
        hosts.push_back(done.size());
      done.push_back(std::move(at));
      continue;
    }

    const std::string name = TrimLeft(t.substr(8));
    std::string path;
    try {
      path = ResolveInRoot(RootDir, name);
    } catch (const OutsideRoot& e) {
      throw Error(Located(at.File, at.Line, e.what()));
    }
    const std::string key = FileKey(path);
    for (const std::string& outer : *at.Chain) {
      if (FileKey(outer) != key)
        continue;
      std::string chainText;
      for (const std::string& f : *at.Chain)
        chainText += Printable(f, 200) + " -> ";
      throw Error(Located(at.File, at.Line, "include cycle: " + chainText + Printable(path, 200)));
    }
    // The chain holds the settings file and every include down to this line's file.
    if (at.Chain->size() > MaxIncludeDepth)
      throw Error(Located(at.File, at.Line,
                          "include of " + Printable(path, 200) + " nests deeper than " +
                              std::to_string(MaxIncludeDepth) + " levels"));
    if (!FindPath(path))
      throw MissingInputError(Located(at.File, at.Line,
                                      "include " + Printable(NormaliseSeparators(name)) +
                                          " not found below " + RootShown()),
                              NormaliseSeparators(name));
    auto chain = std::make_shared<std::vector<std::string>>(*at.Chain);
    chain->push_back(path);
    std::vector<TSettingsLine> included;
    try {
      included = readLines(path, chain);
    } catch (const Error& e) {
      throw Error(Located(at.File, at.Line, e.what()));
    }

    // The whole list is joined into one text and the first occurrence of the trimmed
    // include line is replaced by the included text. The include line holds no line
    // break, so that occurrence lies within one line (never after the include line
    // itself): its text before the occurrence joins the first included line, and its text
    // after the occurrence follows the last included line's break as a line of its own
    // (an empty line when nothing follows).
    size_t hostIndex = std::string::npos;
    size_t pos = std::string::npos;
    for (const size_t h : hosts) {
      pos = done[h].Text.find(t);
      if (pos != std::string::npos) {
        hostIndex = h;
        break;
      }
    }
    if (hostIndex == std::string::npos)
      pos = at.Text.find(t);
    const TSettingsLine& host = hostIndex == std::string::npos ? at : done[hostIndex];
    const std::string prefix = host.Text.substr(0, pos);
    const std::string suffix = host.Text.substr(pos + t.size());
    std::vector<TSettingsLine> replacement;
    if (included.empty()) {
      replacement.push_back(TSettingsLine{prefix + suffix, host.File, host.Line, host.Chain});
    } else {
      included.front().Text = prefix + included.front().Text;
      replacement = std::move(included);
      replacement.push_back(TSettingsLine{suffix, host.File, host.Line, host.Chain});
    }

    totalLines += replacement.size() - 1;
    totalBytes += bytesOf(replacement);
    totalBytes -= host.Text.size() + 1;
    if (totalLines > MaxExpandedLines)
      throw Error(
          Located(at.File, at.Line,
                  "include expansion grows beyond " + std::to_string(MaxExpandedLines) + " lines"));
    if (totalBytes > MaxExpandedBytes)
      throw Error(Located(at.File, at.Line,
                          "include expansion grows beyond " +
                              std::to_string(MaxExpandedBytes >> 20) + " MiB of text"));

    if (hostIndex == std::string::npos) {
      // The include line itself is replaced; its first inserted line is examined next.
      for (auto it = replacement.rbegin(); it != replacement.rend(); ++it)
        pending.push_back(std::move(*it));
      continue;
    }

    // The text stands in an earlier line, which takes the included text; the include line
    // stays. The walk position, counted in lines, does not move, so the lines the
    // replacement added before it come back to the walk, followed by the include line.
    if (++earlierLineExpansions > MaxEarlierLineExpansions)
      throw Error(Located(at.File, at.Line,
                          "include expansion does not end: the text of this line also stands "
                          "in " +
                              done[hostIndex].File + ":" + std::to_string(done[hostIndex].Line) +
                              ", where each expansion puts it back (stopped after " +
                              std::to_string(MaxEarlierLineExpansions) + " expansions there)"));
    const size_t added = replacement.size() - 1;
    done[hostIndex] = std::move(replacement.front());
    done.insert(done.begin() + static_cast<ptrdiff_t>(hostIndex) + 1,
                std::make_move_iterator(replacement.begin() + 1),
                std::make_move_iterator(replacement.end()));
    pending.push_back(std::move(at));
    for (size_t k = 0; k < added; ++k) {
      pending.push_back(std::move(done.back()));
      done.pop_back();
    }
    hosts.clear();
    for (size_t k = 0; k < done.size(); ++k)
      if (MentionsInclude(done[k].Text))
        hosts.push_back(k);
  }
  return done;
}

void T2P5D_Manager::LoadSettings(const std::string& Name) {
  Clear();
  SettingsName = Name;
  Report(0, "Loading");

  SettingsFile = ResolveInRoot(RootDir, Name + ".settings");
  SettingsFilesRead.clear();
  const std::vector<TSettingsLine> lines = ExpandSettings(SettingsFile, &SettingsFilesRead);

  for (const TSettingsLine& line : lines) {
    const std::string t = Trim(line.Text);
    if (t.empty() || IsCommentLine(t))
      continue;
    // Only a space separates the keyword: "angle<TAB>0 0" is the keyword "angle\t0".
    std::string keyword;
    std::string argument;
    const size_t space = t.find(' ');
    if (space == std::string::npos) {
      keyword = ToLowerASCII(t);
    } else {
      keyword = ToLowerASCII(TrimRight(t.substr(0, space)));
      argument = TrimLeft(t.substr(space + 1));
    }
    CurrentFile = line.File;
    CurrentLine = line.Line;
    ApplySetting(keyword, argument);
  }
  CurrentFile.clear();
  CurrentLine = 0;

  CentreModels();
  for (TJobFrame& frame : Frames)
    if (frame.ModelIndex >= 0 && static_cast<size_t>(frame.ModelIndex) < Models.size())
      MeasureFrame(frame, *Models[static_cast<size_t>(frame.ModelIndex)]);
  Report(0, "Finished Loading");
}

void T2P5D_Manager::ApplySetting(const std::string& Keyword, const std::string& Argument) {
  std::string first = Argument;
  std::string rest;
  const size_t space = Argument.find(' ');
  if (space != std::string::npos) {
    first = TrimRight(Argument.substr(0, space));
    rest = TrimLeft(Argument.substr(space + 1));
  }

  // Reads an integer or reports what was taken instead.
  auto integer = [&](const std::string& text, int32_t fallback, const std::string& taken) {
    int32_t value = 0;
    if (TryStrToInt(text, value))
      return value;
    Warn(Here(InvalidIntMessage(text) + "; " + taken));
    return fallback;
  };
  auto extraIgnored = [&](const std::string& extra) {
    if (!extra.empty())
      Warn(Here("extra text " + Quoted(extra) + " ignored"));
  };

  if (Keyword == "angle") {
    const int32_t slot = integer(first, 0, "angle slot 0 taken");
    const int32_t degrees = integer(rest, 0, "0 degrees taken");
    // A slot below 0 lies before the list; it is refused rather than guessed.
    if (slot < 0)
      throw Error(Here("angle slot " + std::to_string(slot) + " is negative"));
    if (slot > MaxAngleSlot)
      throw Error(Here("angle slot " + std::to_string(slot) + " is beyond the largest slot " +
                       std::to_string(MaxAngleSlot)));
    CheckViewCount(std::max(Angles.size(), static_cast<size_t>(slot) + 1), Frames.size(),
                   "angle slot " + std::to_string(slot));
    SetAngle(slot, degrees);
  } else if (Keyword == "frame") {
    const int32_t number = integer(first, 1, "frame number 1 taken");
    // Frame numbers count from 1; 0 or less names no frame and is refused.
    if (number < 1)
      throw Error(Here("frame number " + std::to_string(number) + " is below 1"));
    if (number > MaxFrameNumber)
      throw Error(Here("frame number " + std::to_string(number) +
                       " is beyond the largest frame number " + std::to_string(MaxFrameNumber)));
    // Without a file name the model would be ".obj" in the root, and the user would read
    // "./.obj: cannot open file".
    if (rest.empty())
      throw Error(Here("frame " + std::to_string(number) + " names no model file"));
    CheckViewCount(Angles.size(), std::max(Frames.size(), static_cast<size_t>(number)),
                   "frame number " + std::to_string(number));
    SetFrame(number, ReplaceModelPlaceholder(rest, RemoveFileExt(SettingsName)));
  } else if (Keyword == "scene" || Keyword == "clip") {
    ApplySceneSetting(Keyword, Argument);
  } else if (Keyword == "scale") {
    double parsed = 0;
    if (TryStrToFloat(first, parsed))
      Scale = ParseExtended(first);
    else
      Warn(Here(InvalidFloatMessage(first) + "; scale stays " + FormatScale(Scale)));
    extraIgnored(rest);
  } else if (Keyword == "zmax") {
    int32_t value = 0;
    if (TryStrToInt(first, value)) {
      ZMax = static_cast<uint8_t>(static_cast<uint32_t>(value) & 0xFFu);
      if (value != static_cast<int32_t>(ZMax))
        Warn(Here("zmax " + first + " is kept to its low 8 bits: " + std::to_string(ZMax)));
    } else {
      Warn(Here(InvalidIntMessage(first) + "; zmax stays " + std::to_string(ZMax)));
    }
    extraIgnored(rest);
  } else if (Keyword == "singleoutput") {
    SingleOutput = true;
    extraIgnored(Argument);
  } else {
    Warn(Here(Quoted(Keyword) + " is not a keyword; line ignored"));
  }
}

void T2P5D_Manager::CheckViewCount(size_t angles, size_t frames, const std::string& cause) const {
  const uint64_t views = static_cast<uint64_t>(angles) * frames;
  if (views <= static_cast<uint64_t>(MaxViews))
    return;
  std::string message = std::to_string(angles) + (angles == 1 ? " angle" : " angles") + " x " +
                        std::to_string(frames) + (frames == 1 ? " frame" : " frames") + " = " +
                        std::to_string(views) + " views, more than the " +
                        std::to_string(MaxViews) + " one job may render";
  if (!cause.empty())
    message = cause + " makes " + message;
  throw Error(Here(message));
}

void T2P5D_Manager::ApplySceneSetting(const std::string& Keyword, const std::string& Argument) {
  const std::vector<std::string> words = Words(Argument);
  const bool isClip = Keyword == "clip";
  // scene NUMBER FILE [CLIP [SECONDS]] / clip FIRST COUNT FILE CLIP [START END]
  const size_t fileAt = isClip ? 2 : 1;
  const size_t needed = isClip ? 4 : 2;
  if (words.size() < needed)
    throw Error(Here(Keyword + (isClip ? " needs FIRST COUNT FILE CLIP [START END]"
                                       : " needs NUMBER FILE [CLIP [SECONDS]]")));
  auto frameNumber = [&](const std::string& text, const char* what) {
    int32_t value = 0;
    if (!TryStrToInt(text, value))
      throw Error(Here(InvalidIntMessage(text) + " as the " + what));
    if (value < 1)
      throw Error(Here(std::string(what) + " " + std::to_string(value) + " is below 1"));
    if (value > MaxFrameNumber)
      throw Error(Here(std::string(what) + " " + std::to_string(value) +
                       " is beyond the largest frame number " + std::to_string(MaxFrameNumber)));
    return value;
  };
  auto seconds = [&](size_t at, double fallback) {
    double value = fallback;
    if (at >= words.size())
      return fallback;
    if (!TryStrToFloat(words[at], value) || !std::isfinite(value)) {
      Warn(Here(InvalidFloatMessage(words[at]) + "; " + FormatScale(fallback) + " seconds taken"));
      return fallback;
    }
    return value;
  };
  const int32_t first = frameNumber(words[0], isClip ? "first frame number" : "frame number");
  const std::string file = ReplaceModelPlaceholder(words[fileAt], RemoveFileExt(SettingsName));
  const std::string clip = words.size() > fileAt + 1 ? words[fileAt + 1] : std::string();
  RequireInput("scene", file, Scenes.count(file) != 0);
  try {
    if (!isClip) {
      if (words.size() > 4)
        Warn(Here("extra text " + Quoted(words[4]) + " ignored"));
      SetSceneFrame(first, file, clip, seconds(3, 0.0));
      return;
    }
    const int32_t count = frameNumber(words[1], "frame count");
    if (static_cast<int64_t>(first) + count - 1 > MaxFrameNumber)
      throw Error("frames " + std::to_string(first) + " to " + std::to_string(first + count - 1) +
                  " go beyond the largest frame number " + std::to_string(MaxFrameNumber));
    if (words.size() == 5)
      Warn(Here("a clip range needs START and END; the whole clip taken"));
    if (words.size() > 6)
      Warn(Here("extra text " + Quoted(words[6]) + " ignored"));
    const TScene& scene = SceneFile(file);
    const double duration = scene.Clips[static_cast<size_t>(FindClip(scene, clip))].Duration;
    const bool range = words.size() >= 6;
    const double start = range ? seconds(4, 0.0) : 0.0;
    const double end = range ? seconds(5, duration) : duration;
    // The end is excluded, so that a looping cycle does not show its first pose twice.
    for (int32_t k = 0; k < count; ++k)
      SetSceneFrame(first + k, file, clip, start + (end - start) * k / count);
  } catch (const Error& e) {
    const std::string what = e.what();
    // Errors of the scene reader name the file; they are placed at this line as well.
    throw Error(what.rfind(CurrentFile, 0) == 0 ? what : Here(what));
  }
}

void T2P5D_Manager::SetSceneFrame(int32_t Number, const std::string& File, const std::string& Clip,
                                  double Seconds) {
  CheckViewCount(Angles.size(), std::max(Frames.size(), static_cast<size_t>(Number)),
                 "frame number " + std::to_string(Number));
  if (Frames.size() < static_cast<size_t>(Number))
    Frames.resize(static_cast<size_t>(Number));
  const int32_t index = LoadSceneModel(File, Clip, Seconds);
  TJobFrame& frame = Frames[static_cast<size_t>(Number) - 1];
  frame.ModelIndex = index;
  frame.Source = TFrameSource{File, Clip, Seconds};
}

void T2P5D_Manager::SetAngle(int32_t Slot, int32_t Degrees) {
  if (static_cast<size_t>(Slot) >= Angles.size())
    Angles.resize(static_cast<size_t>(Slot) + 1, 0);
  Angles[static_cast<size_t>(Slot)] = Degrees;
}

void T2P5D_Manager::RequireInput(const char* kind, const std::string& name, bool loaded) const {
  std::string path;
  try {
    path = ResolveInRoot(RootDir, name); // outside the root: said as such
  } catch (const OutsideRoot& e) {
    throw Error(Here(e.what()));
  }
  if (!loaded && !FindPath(path))
    throw MissingInputError(Here(std::string(kind) + " " + Printable(NormaliseSeparators(name)) +
                                 " not found below " + RootShown()),
                            NormaliseSeparators(name));
}

void T2P5D_Manager::SetFrame(int32_t Number, const std::string& FileName) {
  if (Frames.size() < static_cast<size_t>(Number))
    Frames.resize(static_cast<size_t>(Number));
  const std::string name = RemoveFileExt(FileName);
  const bool loaded = std::any_of(Models.begin(), Models.end(),
                                  [&](const auto& model) { return model->FileName == name; });
  RequireInput("model", name + ".obj", loaded);
  const int32_t index = LoadModel(name);
  Frames[static_cast<size_t>(Number) - 1].ModelIndex = index;
  Frames[static_cast<size_t>(Number) - 1].Source = TFrameSource{name + ".obj", "", 0};
}

} // namespace quarvel
