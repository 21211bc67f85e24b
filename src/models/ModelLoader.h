// The loading sequence shared by the render job and the preview: one OBJ file, its
// material library and textures, made into a finished TOBJFile.
//
// A model is named as the program's lists give it: a path relative to the root folder
// without ".obj", "\" or "/" as separators (units\tank). Every file is found through
// common/FileLookup.h, so letter case is ignored when the exact name is missing.
//
// Every file is read under the root rule (common/FileLookup.h): a model outside the root
// throws OutsideRoot (unlocated: the caller knows which line named the model); a material
// library outside it is refused with a warning (OnWarning, at the "mtllib" line) and the
// model loads without it. Model and library files are read up to MaxModelFileBytes.
//
//   1. The model's TextureDir := the folder of root/name.obj.
//   2. root/name.obj is read as lines (CR, LF or CR LF end a line; a leading UTF-8
//      byte-order mark is dropped); every line, trimmed of characters of code 32 or
//      less, goes to ParseLine; after each one, OnLine(lineIndex, lineCount).
//   3. OnMaterials(); the library is read from the "mtllib" name (a leading ".\"
//      removed) in the model's folder, or from root/name.mtl without one. A missing or
//      unreadable library leaves it empty; that is not an error, but a warning (OnWarning)
//      when an "mtllib" line named it or it exists and cannot be read.
//   4. SetMaterialFile, FinishLoading. Textures are not read here: the GL side decodes
//      them when it makes the model's textures (render/GLModel.h), so loading needs no GL.
//
// Errors: an OBJ file that cannot be read throws the file layer's error; a line whose
// number does not convert throws quarvel::Error located in that file and line, with the
// name as the user gave it: "units/tank.obj:12: 'abc' is not a valid floating point
// value" (material lines likewise, "units/tank.mtl:3: ..."). After an error the model
// holds what was read.
#pragma once

#include "models/OBJFile.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace quarvel {

struct TModelLoadCallbacks {
  // After ParseLine of line lineIndex (0-based) of lineCount lines.
  std::function<void(int32_t lineIndex, int32_t lineCount)> OnLine;
  // Once, after the last OBJ line and before the material library is read.
  std::function<void()> OnMaterials;
  // A problem the model loads despite, located: "units/tank.obj:3: material library
  // units/mats/tank.mtl not found; faces use the default material".
  std::function<void(const std::string& text)> OnWarning;
};

// root/name.obj, separators "/".
std::string ModelOBJPath(const std::string& rootDir, const std::string& name);
// The folder of root/name.obj with a trailing "/": the TextureDir of that model.
std::string ModelTextureDir(const std::string& rootDir, const std::string& name);
// The material library path for a model whose "mtllib" name is materialLibName (as the
// reader stores it: lower case, "\" separators; empty when there was none).
std::string ModelMaterialPath(const std::string& rootDir, const std::string& name,
                              const std::string& materialLibName);

// The material library's name relative to the root (what ModelMaterialPath joins to it).
std::string ModelMaterialName(const std::string& name, const std::string& materialLibName);

// Runs the sequence into `model` (normally fresh from its constructor).
void LoadModelInto(TOBJFile& model, const std::string& rootDir, const std::string& name,
                   const TModelLoadCallbacks& callbacks = {});
// A new model whose FileName is `fileName` (the job passes the name, the preview "").
std::unique_ptr<TOBJFile> LoadOBJModel(const std::string& rootDir, const std::string& name,
                                       const std::string& fileName,
                                       const TModelLoadCallbacks& callbacks = {});

// The lines of `text` as common/Text.h's ForEachLine splits them: their count, and each
// one trimmed, fed to `onLine(line, index)` (the readers' form of a line).
int32_t CountLines(std::string_view text);
void ForEachTrimmedLine(std::string_view text,
                        const std::function<void(std::string_view line, int32_t index)>& onLine);

// The loading percentage of line lineIndex of lineCount: lineIndex / (lineCount / 100)
// in extended precision, truncated toward zero. Callers report it when it differs from
// the last value reported (which starts at 0).
int32_t LinePercent(int32_t lineIndex, int32_t lineCount);

} // namespace quarvel
