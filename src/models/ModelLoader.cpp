#include "models/ModelLoader.h"

#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/Text.h"
#include "models/OBJText.h"

#include <cmath>
#include <memory>

namespace quarvel {

namespace {

// Feeds every line of `text`, trimmed, to onLine(line, index).
template <typename F> int32_t SplitLines(std::string_view text, F&& onLine) {
  return ForEachLine(
      text, [&onLine](std::string_view line, int32_t index) { onLine(TrimBlanks(line), index); });
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

// The current-folder prefix ".\" (or "./", stored as ".\") comes off the front only.
// Removing the first ".\" wherever it stood turned "..\x.mtl" into ".x.mtl", a file
// that does not exist, and the model lost its materials without a word.
std::string MaterialNameWithoutDotSlash(const std::string& materialLibName) {
  std::string m = materialLibName;
  if (m.compare(0, 2, ".\\") == 0)
    m.erase(0, 2);
  return m;
}

} // namespace

int32_t CountLines(std::string_view text) {
  return ForEachLine(text, [](std::string_view, int32_t) {});
}

void ForEachTrimmedLine(std::string_view text,
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

std::string ModelMaterialName(const std::string& name, const std::string& materialLibName) {
  const std::string m = MaterialNameWithoutDotSlash(materialLibName);
  if (m.empty())
    return NormaliseSeparators(name + ".mtl");
  return JoinPath(DirectoryPart(NormaliseSeparators(name + ".obj")), m);
}

void LoadModelInto(TOBJFile& model, const std::string& rootDir, const std::string& name,
                   const TModelLoadCallbacks& callbacks) {
  model.TextureDir = ModelTextureDir(rootDir, name);
  model.RootDir = rootDir;
  model.ObjName = ShownName(name + ".obj");

  const std::string objText =
      ReadWholeFile(ResolveInRoot(rootDir, name + ".obj"), MaxModelFileBytes, "model file");
  const std::string_view objLines = DropByteOrderMark(objText);
  const TLineCensus census = TakeCensus(objLines);
  const int32_t lineCount = census.Lines;
  model.Reserve(census.Vertices, census.TexCoords, census.Normals, census.Faces * 3);
  const std::string& objShown = model.ObjName;
  int32_t mtllibLine = 0; // the line of the "mtllib" statement that counts (the last)
  SplitLines(objLines, [&](std::string_view line, int32_t index) {
    const int32_t mtllibLinesBefore = model.MaterialLibLines;
    try {
      model.ParseLine(line);
    } catch (const Error& e) {
      throw Error(Located(objShown, index + 1, e.what()));
    }
    if (model.MaterialLibLines != mtllibLinesBefore) {
      mtllibLine = index + 1;
      model.MaterialLibLine = mtllibLine;
    }
    if (callbacks.OnLine)
      callbacks.OnLine(index, lineCount);
  });

  if (callbacks.OnMaterials)
    callbacks.OnMaterials();
  auto materials = std::make_unique<TOBJMaterialFile>();
  std::string mtlPath;
  try {
    mtlPath = ResolveInRoot(rootDir, ModelMaterialName(name, model.MaterialLibName));
  } catch (const OutsideRoot& e) {
    // Refused like a missing library: the model loads without its materials.
    if (callbacks.OnWarning)
      callbacks.OnWarning(Located(objShown, model.MaterialLibLine, e.what()));
  }
  std::string mtlText;
  bool haveMaterials = false;
  // A library that is missing or cannot be read leaves the model without materials; it
  // still loads and renders, but silently white faces hid the cause, so it is a warning
  // naming the "mtllib" line and the path looked for. A model without an "mtllib" line
  // often has no library at all: its missing NAME.mtl is not worth a warning.
  auto warn = [&](const std::string& what) {
    if (callbacks.OnWarning)
      callbacks.OnWarning(Located(objShown, mtllibLine,
                                  "material library " +
                                      Printable(NormaliseSeparators(mtlPath), 200) + " " + what +
                                      "; faces use the default material"));
  };
  if (!mtlPath.empty() && FileExists(mtlPath)) {
    try {
      mtlText = ReadWholeFile(mtlPath, MaxModelFileBytes, "material library");
      haveMaterials = true;
    } catch (const Error& e) {
      warn(std::string("cannot be read (") + e.what() + ")");
    }
  } else if (!mtlPath.empty() && mtllibLine > 0) {
    warn(FindPath(mtlPath) ? "is not a file" : "not found");
  }
  if (haveMaterials) {
    std::string mtlShown = NormaliseSeparators(mtlPath);
    const std::string rootPrefix = JoinPath(rootDir, "");
    if (!rootDir.empty() && mtlShown.compare(0, rootPrefix.size(), rootPrefix) == 0)
      mtlShown.erase(0, rootPrefix.size());
    // The name comes from the model's "mtllib" line: messages show it escaped.
    mtlShown = Printable(mtlShown, 200);
    materials->FileName = mtlShown;
    SplitLines(DropByteOrderMark(mtlText), [&](std::string_view line, int32_t index) {
      materials->CurrentLine = index + 1;
      try {
        materials->ParseLine(line);
      } catch (const Error& e) {
        throw Error(Located(mtlShown, index + 1, e.what()));
      }
    });
    materials->CurrentLine = 0;
  }
  model.SetMaterialFile(std::move(materials));
  model.FinishLoading();
}

std::unique_ptr<TOBJFile> LoadOBJModel(const std::string& rootDir, const std::string& name,
                                       const std::string& fileName,
                                       const TModelLoadCallbacks& callbacks) {
  auto model = std::make_unique<TOBJFile>(fileName);
  LoadModelInto(*model, rootDir, name, callbacks);
  return model;
}

} // namespace quarvel
