#include "models/MaterialFile.h"

#include "common/Convert.h"
#include "models/OBJText.h"

namespace quarvel {

void ParseVec3(std::string_view text, TVec3& v) {
  v = Vec3(0.0f, 0.0f, 0.0f);
  float* components[3] = {&v.X, &v.Y, &v.Z};
  std::string scratch;
  std::string_view token, rest;
  for (float* component : components) {
    NextToken(text, token, rest, scratch);
    if (token.empty())
      break;
    *component = static_cast<float>(StrToFloat(token));
    text = rest;
  }
}

void TOBJMaterialFile::ParseLine(std::string_view line) {
  if (line.size() < 3 || line[0] == '#')
    return;
  Line_.assign(line);
  LowerCaseASCII(Line_);
  std::string_view rest;
  if (MatchKeyword("newmtl ", Line_, rest)) {
    TOBJMaterial material;
    material.Name.assign(rest);
    Materials.push_back(std::move(material));
    return;
  }
  // Property lines before the first material have nothing to apply to.
  if (Materials.empty())
    return;
  TOBJMaterial& last = Materials.back();
  if (MatchKeyword("ka ", Line_, rest))
    ParseVec3(rest, last.Ka);
  else if (MatchKeyword("kd ", Line_, rest))
    ParseVec3(rest, last.Kd);
  else if (MatchKeyword("ks ", Line_, rest))
    ParseVec3(rest, last.Ks);
  else if (MatchKeyword("ns ", Line_, rest))
    last.Ns = static_cast<float>(StrToFloat(rest));
  else if (MatchKeyword("tr ", Line_, rest))
    last.Tr = static_cast<float>(StrToFloat(rest));
  else if (MatchKeyword("illum ", Line_, rest))
    last.Illum = StrToInt(rest);
  else if (MatchKeyword("map_kd ", Line_, rest)) {
    last.MapKd.assign(rest);
    last.MapKdLine = CurrentLine;
  }
}

int32_t TOBJMaterialFile::IndexOf(std::string_view name) const {
  if (name.empty())
    return -1;
  for (size_t i = 0; i < Materials.size(); ++i)
    if (Materials[i].Name == name)
      return static_cast<int32_t>(i);
  if (name != "default")
    return IndexOf("default");
  return -1;
}

void TOBJMaterialFile::GetMaterial(int32_t index, TOBJMaterial& material) const {
  if (index >= 0 && index < Count())
    material = Materials[static_cast<size_t>(index)];
}

} // namespace quarvel
