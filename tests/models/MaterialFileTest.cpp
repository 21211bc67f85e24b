// The MTL subset and material lookup; binding faces to materials.
#include "ModelTestUtil.h"

#include "common/Error.h"

#include <gtest/gtest.h>

namespace quarvel {
namespace {

using test::ExpectVec;
using test::ParseMTL;
using test::ParseOBJ;

TEST(MaterialFile, DefaultsAndStatements) {
  auto lib = ParseMTL({"Kd 0 0 0", "newmtl", "newmtl Wood", "Kd 1 0.5 0", "d 0.5", "Ni 1.5",
                       "Ke 1 1 1", "map_Ka other.png", "bump b.png", "# Ka 0 0 0", "newmtl Metal",
                       "Ka 0.2", "KS 0.1 0.2 0.3 0.4", "Ns 96.078431", "Tr 0.25", "illum 3",
                       "map_Kd Tex/Metal Plate.JPG", "newmtl wood"});
  ASSERT_EQ(lib->Count(), 3) << "'newmtl' without a name is too short; a property line before "
                                "the first material is ignored";
  const TOBJMaterial& wood = lib->Materials[0];
  EXPECT_EQ(wood.Name, "wood");
  ExpectVec(wood.Kd, 1, 0.5f, 0, "Kd");
  ExpectVec(wood.Ka, 0.5f, 0.5f, 0.5f, "default Ka");
  ExpectVec(wood.Ks, 1, 1, 1, "default Ks");
  EXPECT_FLOAT_EQ(wood.Ns, 1.0f);
  EXPECT_FLOAT_EQ(wood.Tr, 0.0f) << "'d' is not read as transparency";
  EXPECT_EQ(wood.Illum, 2);
  EXPECT_EQ(wood.MapKd, "") << "map_Ka is not map_Kd";
  const TOBJMaterial& metal = lib->Materials[1];
  ExpectVec(metal.Ka, 0.2f, 0, 0, "missing colour components are 0");
  ExpectVec(metal.Ks, 0.1f, 0.2f, 0.3f, "fourth component ignored");
  EXPECT_FLOAT_EQ(metal.Ns, 96.078431f);
  EXPECT_FLOAT_EQ(metal.Tr, 0.25f);
  EXPECT_EQ(metal.Illum, 3);
  EXPECT_EQ(metal.MapKd, "tex/metal plate.jpg") << "lower-cased, '/' kept, blanks kept";
  EXPECT_EQ(lib->Materials[2].Name, "wood");
}

TEST(MaterialFile, NumberErrors) {
  auto expectError = [](const char* line, const char* message) {
    TOBJMaterialFile lib;
    lib.ParseLine("newmtl a");
    try {
      lib.ParseLine(line);
      ADD_FAILURE() << "no error for " << line;
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), message);
    }
  };
  expectError("Ns 10 20", "'10 20' is not a valid floating point value");
  expectError("Tr 0,5", "'0,5' is not a valid floating point value");
  expectError("illum 2.0", "'2.0' is not a valid integer value");
  expectError("Kd 1 Red 0", "'red' is not a valid floating point value");
  expectError("Ka 1e+", "'1e+' is not a valid floating point value");
}

TEST(MaterialFile, LookupByName) {
  auto lib = ParseMTL({"newmtl x", "Kd 1 0 0", "newmtl DEFAULT", "newmtl x", "Kd 0 1 0"});
  EXPECT_EQ(lib->IndexOf("x"), 0) << "the first of two equal names";
  EXPECT_EQ(lib->IndexOf(""), -1);
  EXPECT_EQ(lib->IndexOf("missing"), 1) << "falls back to 'default'";
  EXPECT_EQ(lib->IndexOf("X"), 1) << "lookup is exact; names were lower-cased when read";
  EXPECT_EQ(lib->IndexOf("default"), 1);
  auto noDefault = ParseMTL({"newmtl x"});
  EXPECT_EQ(noDefault->IndexOf("missing"), -1);
  EXPECT_EQ(noDefault->IndexOf("default"), -1);

  TOBJMaterial m;
  m.Name = "kept";
  lib->GetMaterial(3, m);
  EXPECT_EQ(m.Name, "kept") << "index = count leaves the output as it was";
  lib->GetMaterial(-1, m);
  EXPECT_EQ(m.Name, "kept");
  lib->GetMaterial(2, m);
  EXPECT_EQ(m.Name, "x");
  ExpectVec(m.Kd, 0, 1, 0);

  TVec3 v = Vec3(9, 9, 9);
  ParseVec3("", v);
  ExpectVec(v, 0, 0, 0, "ParseVec3 starts from zero");
  ParseVec3("1 2 3 4", v);
  ExpectVec(v, 1, 2, 3);
}

TEST(MaterialFile, FacesBindByLowerCasedName) {
  auto model = ParseOBJ(
      {"v 0 0 0", "usemtl Red", "f 1 1 1", "usemtl Unknown", "f 1 1 1", "usemtl SIDE", "f 1 1 1"});
  auto lib = ParseMTL({"newmtl RED", "newmtl default"});
  model->SetMaterialFile(std::move(lib));
  model->FinishLoading();
  const auto& faces = model->Groups[0].Faces;
  ASSERT_EQ(faces.size(), 3u);
  EXPECT_EQ(faces[0].MaterialIndex, 0) << "usemtl Red meets newmtl RED";
  EXPECT_EQ(faces[1].MaterialIndex, 1) << "unknown names fall back to default";
  EXPECT_EQ(faces[2].MaterialIndex, 1);

  // The side-colour switch: a library of "default" and "side" lent as override.
  auto jobMaterials = ParseMTL({"newmtl default", "Ka 0.0 0.0 0.0", "Kd 1.0 0.5 0.25",
                                "newmtl SIDE", "Ns 96.078431", "Ka 1.0 1.0 1.0", "Kd 1.0 1.0 1.0",
                                "Ke 0 0 0", "d 1.000000", "illum 2"});
  ASSERT_EQ(jobMaterials->Count(), 2);
  model->MaterialOverride = jobMaterials.get();
  EXPECT_EQ(model->ActiveMaterials(), jobMaterials.get());
  model->ResolveMaterials();
  EXPECT_EQ(faces[0].MaterialIndex, 0);
  EXPECT_EQ(faces[1].MaterialIndex, 0);
  EXPECT_EQ(faces[2].MaterialIndex, 1);
  model->MaterialOverride = nullptr;
  model->ResolveMaterials();
  EXPECT_EQ(faces[2].MaterialIndex, 1);
  EXPECT_EQ(model->ActiveMaterials(), model->MaterialFile.get());

  // Faces without a material name stay unbound; no library leaves everything -1.
  auto plain = ParseOBJ({"v 0 0 0", "f 1 1 1", "usemtl a", "f 1 1 1"});
  plain->FinishLoading();
  EXPECT_EQ(plain->ActiveMaterials(), nullptr);
  plain->ResolveMaterials();
  for (const TOBJFace& f : plain->Groups[0].Faces)
    EXPECT_EQ(f.MaterialIndex, -1);
}

} // namespace
} // namespace quarvel
