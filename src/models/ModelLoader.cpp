#include "models/ModelLoader.h"

#include "common/Error.h"
#include "common/FileLookup.h"
#include "models/OBJText.h"
#include "models/Texture.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace quarvel {

namespace {

std::string_view DropByteOrderMark(std::string_view text) {
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0)
    text.remove_prefix(3);
  return text;
}

// Calls onLine(trimmed line, index) for every line. Files with LF or CR LF ends take
// the memchr path; only a file holding a CR anywhere is scanned byte by byte.
template <typename F> int32_t SplitLines(std::string_view text, F&& onLine) {
  const char* p = text.data();
  const char* end = p + text.size();
  int32_t index = 0;
  const bool hasCR = std::memchr(p, '\r', text.size()) != nullptr;
  while (p < end) {
    const char* stop;
    const char* next;
    if (!hasCR) {
      stop = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
      if (stop == nullptr)
        stop = end;
      next = stop < end ? stop + 1 : end;
    } else {
      stop = p;
      while (stop < end && *stop != '\n' && *stop != '\r')
        ++stop;
      next = stop;
      if (next < end) {
        if (*next == '\r' && next + 1 < end && next[1] == '\n')
          next += 2;
        else
          next += 1;
      }
    }
    onLine(TrimBlanks(std::string_view(p, static_cast<size_t>(stop - p))), index);
    ++index;
    p = next;
  }
  return index;
}

// The whole file in one read into a buffer of its size (the file layer's reader copies
// through a string stream, which costs as much as parsing on large models). Found
// through the file lookup like every other file.
std::string ReadModelFile(const std::string& path) {
  const std::string resolved = ResolvePath(path);
  std::error_code ec;
  if (std::filesystem::is_directory(resolved, ec))
    throw Error(Located(resolved, 0, "is a folder, not a file"));
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(resolved.c_str(), "rb"),
                                                       &std::fclose);
  if (!file)
    throw Error(Located(resolved, 0, std::string("cannot open file: ") + std::strerror(errno)));
  std::string text;
  const auto size = std::filesystem::file_size(resolved, ec);
  if (!ec)
    text.resize(static_cast<size_t>(size));
  size_t got = std::fread(text.data(), 1, text.size(), file.get());
  text.resize(got);
  // A file that grew since its size was taken is read to its end.
  char chunk[65536];
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
    text.append(chunk, got);
  if (std::ferror(file.get()))
    throw Error(Located(resolved, 0, "read error"));
  return text;
}

// How many lines of each list-filling kind a file holds, counted before parsing so the
// model's lists are allocated once.
struct TLineCensus {
  int32_t Lines = 0;
  size_t Vertices = 0, TexCoords = 0, Normals = 0, Faces = 0;
};

TLineCensus TakeCensus(std::string_view text) {
  TLineCensus c;
  c.Lines = SplitLines(text, [&c](std::string_view line, int32_t) {
    if (line.size() < 3)
      return;
    const char a = LowerASCII(line[0]);
    const char b = LowerASCII(line[1]);
    if (a == 'v') {
      if (b == ' ')
        ++c.Vertices;
      else if (b == 't')
        ++c.TexCoords;
      else if (b == 'n')
        ++c.Normals;
    } else if (a == 'f' && b == ' ') {
      ++c.Faces;
    }
  });
  return c;
}

std::string DirectoryPart(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The name as the user gave it, "/" separators: the prefix of located errors.
std::string ShownName(const std::string& name) {
  return NormaliseSeparators(name);
}

std::string MaterialNameWithoutDotSlash(const std::string& materialLibName) {
  std::string m = materialLibName;
  const size_t dotSlash = m.find(".\\");
  if (dotSlash != std::string::npos)
    m.erase(dotSlash, 2);
  return m;
}

} // namespace

int32_t CountLines(std::string_view text) {
  return SplitLines(text, [](std::string_view, int32_t) {});
}

void ForEachLine(std::string_view text,
                 const std::function<void(std::string_view line, int32_t index)>& onLine) {
  SplitLines(text, onLine);
}

int32_t LinePercent(int32_t lineIndex, int32_t lineCount) {
  const long double step = static_cast<long double>(lineCount) / 100.0L;
  return static_cast<int32_t>(std::trunc(static_cast<long double>(lineIndex) / step));
}

std::string ModelOBJPath(const std::string& rootDir, const std::string& name) {
  return JoinPath(rootDir, name + ".obj");
}

std::string ModelTextureDir(const std::string& rootDir, const std::string& name) {
  // Everything up to the last separator, kept: "" (the current folder) for a bare name.
  const std::string objPath = ModelOBJPath(rootDir, name);
  const size_t slash = objPath.find_last_of('/');
  return slash == std::string::npos ? std::string() : objPath.substr(0, slash + 1);
}

std::string ModelMaterialPath(const std::string& rootDir, const std::string& name,
                              const std::string& materialLibName) {
  const std::string m = MaterialNameWithoutDotSlash(materialLibName);
  if (m.empty())
    return JoinPath(rootDir, name + ".mtl");
  const std::string modelDir = DirectoryPart(NormaliseSeparators(name + ".obj"));
  return JoinPath(JoinPath(rootDir, modelDir), m);
}

void LoadModelInto(TOBJFile& model, const std::string& rootDir, const std::string& name,
                   const TModelLoadCallbacks& callbacks, const TModelLoadOptions& options) {
  TextureDir = ModelTextureDir(rootDir, name);

  const std::string objText = ReadModelFile(ModelOBJPath(rootDir, name));
  const std::string_view objLines = DropByteOrderMark(objText);
  const TLineCensus census = TakeCensus(objLines);
  const int32_t lineCount = census.Lines;
  model.Reserve(census.Vertices, census.TexCoords, census.Normals, census.Faces * 3);
  const std::string objShown = ShownName(name + ".obj");
  SplitLines(objLines, [&](std::string_view line, int32_t index) {
    try {
      model.ParseLine(line);
    } catch (const Error& e) {
      throw Error(Located(objShown, index + 1, e.what()));
    }
    if (callbacks.OnLine)
      callbacks.OnLine(index, lineCount);
  });

  if (callbacks.OnMaterials)
    callbacks.OnMaterials();
  auto materials = std::make_unique<TOBJMaterialFile>();
  const std::string mtlPath = ModelMaterialPath(rootDir, name, model.MaterialLibName);
  std::string mtlText;
  bool haveMaterials = false;
  if (FileExists(mtlPath)) {
    try {
      mtlText = ReadModelFile(mtlPath);
      haveMaterials = true;
    } catch (const Error&) {
      // An unreadable library is treated like a missing one: the model loads without.
    }
  }
  if (haveMaterials) {
    std::string mtlShown = NormaliseSeparators(mtlPath);
    const std::string rootPrefix = JoinPath(rootDir, "");
    if (!rootDir.empty() && mtlShown.compare(0, rootPrefix.size(), rootPrefix) == 0)
      mtlShown.erase(0, rootPrefix.size());
    SplitLines(DropByteOrderMark(mtlText), [&](std::string_view line, int32_t index) {
      try {
        materials->ParseLine(line);
      } catch (const Error& e) {
        throw Error(Located(mtlShown, index + 1, e.what()));
      }
    });
  }
  if (options.LoadTextures)
    materials->LoadTextures();
  model.SetMaterialFile(std::move(materials));
  model.FinishLoading();
}

std::unique_ptr<TOBJFile> LoadOBJModel(const std::string& rootDir, const std::string& name,
                                       const std::string& fileName,
                                       const TModelLoadCallbacks& callbacks,
                                       const TModelLoadOptions& options) {
  auto model = std::make_unique<TOBJFile>(fileName);
  LoadModelInto(*model, rootDir, name, callbacks, options);
  return model;
}

namespace {

// Trunc as the original run-time does it with exceptions masked: a value that has no
// 64-bit integer (infinite, NaN, too large) becomes the "integer indefinite" INT64_MIN.
int64_t TruncOrIndefinite(long double value) {
  if (!std::isfinite(value) || value >= 9.2e18L || value <= -9.2e18L)
    return INT64_MIN;
  return static_cast<int64_t>(std::trunc(value));
}

} // namespace

TPreviewFit PreviewFitFor(const TOBJFile& model) {
  // Centring moves the model by the centre of its bounding box, in single precision;
  // only the Y part matters for the height range.
  float maxY = -1e8f;
  float minY = 1e8f;
  for (const TVec3& v : model.Vertices) {
    if (v.Y > maxY)
      maxY = v.Y;
    if (!(v.Y >= minY))
      minY = v.Y;
  }
  // Each step is formed in extended precision and stored as a float, as the original
  // arithmetic did.
  using LD = long double;
  const auto halfY = static_cast<float>((LD(maxY) - LD(minY)) / 2.0L);
  const auto centreY = static_cast<float>(LD(minY) + LD(halfY));

  TPreviewFit fit;
  fit.MinY = 1e8f;
  fit.MaxY = -1e8f;
  for (const TVec3& v : model.Vertices) {
    const auto y = static_cast<float>(LD(v.Y) - LD(centreY));
    if (y > fit.MaxY)
      fit.MaxY = y;
    if (!(y >= fit.MinY))
      fit.MinY = y;
  }

  const LD height = LD(fit.MaxY) - LD(fit.MinY);
  float scale = 1.0f;
  if (!(height <= PreviewFitHeight))
    scale = static_cast<float>(1.0L / (height / PreviewFitHeight));
  const int64_t steps = TruncOrIndefinite(height * LD(scale) / LD(PreviewZStep));
  fit.MaxZ = static_cast<int32_t>(std::clamp<int64_t>(steps, 1, 127));
  // "Scale by ZMax" with the value just chosen.
  fit.Scale = static_cast<float>(1.0L / (height / (LD(fit.MaxZ) * LD(PreviewZStep))));
  return fit;
}

} // namespace quarvel
