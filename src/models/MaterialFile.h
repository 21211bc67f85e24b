// A material library (MTL subset): the materials of one file in definition order.
//
// Filled line by line with ParseLine (lines already trimmed by the caller; lower-cased
// here, so names and file names compare without regard to case). Recognised statements:
// newmtl, ka, kd, ks, ns, tr, illum, map_kd, each followed by one blank; everything
// else (d, ni, ke, map_ka, bump, comments, short lines) is ignored. A property line
// before the first "newmtl " has no material to apply to and is ignored.
//
// Failures: a number that does not convert throws quarvel::Error with
// "'<text>' is not a valid floating point value" / "... integer value" (no location; the
// loader adds "file:line: ").
//
// Data only: the GL side (render/GLModel.h) makes the textures that MapKd names.
#pragma once

#include "image/Image.h"
#include "maths/Maths3D.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel {

struct TOBJMaterial {
  TVec3 Ka = Vec3(0.5f, 0.5f, 0.5f); // ambient colour (front), sent to GL
  TVec3 Kd = Vec3(1.0f, 1.0f, 1.0f); // diffuse colour (front), sent to GL
  TVec3 Ks = Vec3(1.0f, 1.0f, 1.0f); // stored only
  float Ns = 1.0f;                   // stored only
  float Tr = 0.0f;                   // stored only
  int32_t Illum = 2;                 // stored only
  std::string MapKd;     // as written after "map_kd ", lower-cased, relative to the model's folder
  int32_t MapKdLine = 0; // the library's line of the map_kd statement (CurrentLine then)
  std::string Name;      // lower-cased
  // A picture already decoded (the texture of a scene file, embedded in it or read beside
  // it); when set, it is the material's texture and MapKd is not looked up.
  std::shared_ptr<const TDecodedImage> Texture;
};

class TOBJMaterialFile {
public:
  TOBJMaterialFile() = default;
  TOBJMaterialFile(const TOBJMaterialFile&) = delete;
  TOBJMaterialFile& operator=(const TOBJMaterialFile&) = delete;

  void ParseLine(std::string_view line);
  // Exact (case-sensitive) name, first match; else the material "default"; else -1.
  // An empty name gives -1.
  int32_t IndexOf(std::string_view name) const;
  // Copies material `index`; leaves `material` unchanged for an index out of range.
  void GetMaterial(int32_t index, TOBJMaterial& material) const;
  int32_t Count() const { return static_cast<int32_t>(Materials.size()); }

  std::vector<TOBJMaterial> Materials;
  // Where the lines come from, for messages: the library's name as shown (relative to the
  // root) and the line ParseLine is given (1-based). Set by the loader; 0 when unknown.
  std::string FileName;
  int32_t CurrentLine = 0;

private:
  std::string Line_; // lower-cased copy of the line being parsed, reused
};

// v := (0, 0, 0), then X, Y, Z from up to three number tokens of `text`; the first empty
// token ends the list. Throws the floating point conversion error for a bad token.
void ParseVec3(std::string_view text, TVec3& v);

} // namespace quarvel
