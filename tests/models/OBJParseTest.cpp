// The OBJ line grammar: keywords, number and index tokens, groups, normals.
#include "ModelTestUtil.h"

#include "common/Error.h"

#include <gtest/gtest.h>

namespace quarvel {
namespace {

using test::ExpectVec;
using test::ParseOBJ;

std::string ErrorOf(std::initializer_list<const char*> lines) {
  try {
    ParseOBJ(lines);
  } catch (const Error& e) {
    return e.what();
  }
  return "no error";
}

TEST(OBJText, KeywordsAndTokens) {
  std::string_view rest;
  EXPECT_TRUE(MatchKeyword("v ", "v  \t1 2", rest));
  EXPECT_EQ(rest, "1 2");
  EXPECT_FALSE(MatchKeyword("v ", "V 1 2", rest)) << "case-sensitive; ParseLine lower-cases first";
  EXPECT_EQ(rest, "");
  EXPECT_FALSE(MatchKeyword("v ", "v\t1", rest));
  EXPECT_FALSE(MatchKeyword("vn ", "vn", rest));

  for (char c : std::string("azAZ09.-/_"))
    EXPECT_TRUE(IsTokenChar(c)) << c;
  for (char c : std::string(" \t+,\\\"#:;\x80\xff"))
    EXPECT_FALSE(IsTokenChar(c)) << int(c);

  std::string token, rest2;
  // A '+' where a number's sign stands belongs to the token; elsewhere it separates.
  NextToken("1.5e+3 2", token, rest2);
  EXPECT_EQ(token, "1.5e+3");
  EXPECT_EQ(rest2, "2");
  NextToken("+1 2 3", token, rest2);
  EXPECT_EQ(token, "+1");
  EXPECT_EQ(rest2, "2 3");
  NextToken("a+1 2", token, rest2);
  EXPECT_EQ(token, "a");
  EXPECT_EQ(rest2, "1 2");
  NextToken(",1 2", token, rest2);
  EXPECT_EQ(token, "") << "a separator at the very start gives an empty token";
  EXPECT_EQ(rest2, "1 2");
  NextToken("abc", token, rest2);
  EXPECT_EQ(token, "abc");
  EXPECT_EQ(rest2, "");
  NextToken("a,\t b  ", token, rest2);
  EXPECT_EQ(token, "a");
  EXPECT_EQ(rest2, "b");
  // Quotes toggle a mode in which blanks belong to the token; the quotes are dropped.
  NextToken("\"my file\".png rest", token, rest2);
  EXPECT_EQ(token, "my file.png");
  EXPECT_EQ(rest2, "rest");
  NextToken("\"open to the end", token, rest2);
  EXPECT_EQ(token, "open to the end");
  EXPECT_EQ(rest2, "");

  NextIndexToken("1//3", token, rest2);
  EXPECT_EQ(token, "1");
  EXPECT_EQ(rest2, "/3");
  NextIndexToken(rest2, token, rest2);
  EXPECT_EQ(token, "");
  EXPECT_EQ(rest2, "3");
  NextIndexToken("\"a/b\"", token, rest2);
  EXPECT_EQ(token, "a") << "'/' ends an index token even inside quotes";
  EXPECT_EQ(rest2, "b\"");

  EXPECT_EQ(TrimBlanks("\t\r x y \x01\n"), "x y");
  EXPECT_EQ(TrimBlanks(" \t "), "");
}

TEST(OBJParse, VertexForms) {
  auto m = ParseOBJ({"v 1 2", "v 1 2 3 4", "v +1 2 3", "V 4 5 6", "v\t7 8 9", "v 1\t2\t3",
                     "v 1 2 3 # comment", "v -1.5 .25 2.", "v 1 2 3 abc", "vn 0 0 2", "VN 1 1",
                     "vt 0.5", "vt 1 2 3", "vT 0.25 0.75"});
  ASSERT_EQ(m->VertexCount(), 8);
  ExpectVec(m->Vertices[0], 1, 2, 0, "missing components stay 0");
  ExpectVec(m->Vertices[1], 1, 2, 3, "components beyond the third are ignored");
  ExpectVec(m->Vertices[2], 1, 2, 3, "a leading '+' is a sign");
  ExpectVec(m->Vertices[3], 4, 5, 6, "keywords ignore case");
  ExpectVec(m->Vertices[4], 1, 2, 3, "tabs separate numbers; 'v' + tab is no keyword");
  ExpectVec(m->Vertices[5], 1, 2, 3, "a trailing comment is harmless");
  ExpectVec(m->Vertices[6], -1.5f, 0.25f, 2, "decimal forms");
  ASSERT_EQ(m->NormalCount(), 2);
  ExpectVec(m->Normals[0], 0, 0, 2, "normals are stored as written");
  ExpectVec(m->Normals[1], 1, 1, 0);
  ASSERT_EQ(m->TexCoords.size(), 3u);
  EXPECT_FLOAT_EQ(m->TexCoords[0].U, 0.5f);
  EXPECT_FLOAT_EQ(m->TexCoords[0].V, 0.0f);
  EXPECT_FLOAT_EQ(m->TexCoords[1].U, 1.0f);
  EXPECT_FLOAT_EQ(m->TexCoords[1].V, 2.0f);
  EXPECT_FLOAT_EQ(m->TexCoords[2].V, 0.75f);
  ExpectVec(m->Vertices[7], 1, 2, 3, "a fourth token is not even converted");
}

TEST(OBJParse, NumberErrorsCarryTheTokenLowerCased) {
  EXPECT_EQ(ErrorOf({"v 1.5e+ 0 0"}), "'1.5e+' is not a valid floating point value");
  EXPECT_EQ(ErrorOf({"v 1 ABC 3"}), "'abc' is not a valid floating point value");
  EXPECT_EQ(ErrorOf({"vt nan 0"}), "'nan' is not a valid floating point value");
  EXPECT_EQ(ErrorOf({"vn 0x1p3 0 0"}), "'0x1p3' is not a valid floating point value");
  EXPECT_EQ(ErrorOf({"v 1 2 3", "f 1.5 2 3"}), "'1.5' is not a valid integer value");
  EXPECT_EQ(ErrorOf({"f 1/x/3"}), "'x' is not a valid integer value");
  EXPECT_EQ(ErrorOf({"f 99999999999 1 1"}), "'99999999999' is not a valid integer value");
  // The line that fails leaves the model as it was before it: no half-read vertex.
  auto m = std::make_unique<TOBJFile>();
  m->ParseLine("v 1 2 3");
  EXPECT_THROW(m->ParseLine("v 4 x 6"), Error);
  ASSERT_EQ(m->VertexCount(), 1);
  ExpectVec(m->Vertices[0], 1, 2, 3);
}

TEST(OBJParse, FaceTokensAndIndices) {
  auto m = ParseOBJ({"v 0 0 0",
                     "v 1 0 0",
                     "v 1 1 0",
                     "v 0 1 0",
                     "v 0 0 1",
                     "v 0 0 2",
                     "v 0 0 3",
                     "v 0 0 4",
                     "v 0 0 5",
                     "v 0 0 6",
                     "f -1 -2 -3",
                     "vt 0 0",
                     "vt 1 1",
                     "vn 0 0 1",
                     "f 1/2/1 2//1 3/1 7",
                     "F 1 2 3 4 5",
                     "f 1 2 3 # trailing",
                     "f 5000000 0 -20",
                     "f 1 2",
                     "f\t1 2 3"});
  ASSERT_EQ(m->Groups.size(), 1u);
  const TOBJGroup& g = m->Groups[0];
  EXPECT_EQ(g.Name, "Untitled");
  ASSERT_EQ(g.FaceCount, 6);
  ASSERT_EQ(g.Faces.size(), 6u);
  auto corner = [&](int face, int k) { return m->FaceCorners(g.Faces[size_t(face)])[k]; };
  auto expectCorner = [&](int face, int k, int v, int t, int n) {
    const TOBJFaceVertex c = corner(face, k);
    EXPECT_EQ(c.VertexIndex, v) << "face " << face << " corner " << k;
    EXPECT_EQ(c.TexCoordIndex, t) << "face " << face << " corner " << k;
    EXPECT_EQ(c.NormalIndex, n) << "face " << face << " corner " << k;
  };
  // After ten vertices, -1 -2 -3 name 10 9 8.
  EXPECT_EQ(g.Faces[0].CornerCount, 3);
  expectCorner(0, 0, 10, -1, -1);
  expectCorner(0, 1, 9, -1, -1);
  expectCorner(0, 2, 8, -1, -1);
  EXPECT_EQ(g.Faces[1].CornerCount, 4);
  expectCorner(1, 0, 1, 2, 1);
  expectCorner(1, 1, 2, -1, 1);
  expectCorner(1, 2, 3, 1, -1);
  expectCorner(1, 3, 7, -1, -1);
  EXPECT_EQ(g.Faces[2].CornerCount, 5) << "polygons stay whole";
  EXPECT_EQ(g.Faces[3].CornerCount, 3) << "a trailing comment ends the token list";
  // Out-of-range indices are stored as resolved; a negative one beyond the list stays negative.
  expectCorner(4, 0, 5000000, -1, -1);
  expectCorner(4, 1, 0, -1, -1);
  expectCorner(4, 2, -9, -1, -1);
  EXPECT_EQ(g.Faces[5].CornerCount, 2) << "two corners are kept; drawing skips the face";
  EXPECT_EQ(m->Corners.size(), 3u + 4u + 5u + 3u + 3u + 2u) << "'f' + tab is no keyword";
}

TEST(OBJParse, FaceCornersAreLimitedTo65536) {
  auto corners = [](int n) {
    std::string line = "f";
    for (int i = 0; i < n; ++i)
      line += " 1";
    return line;
  };
  auto m = std::make_unique<TOBJFile>();
  m->ParseLine("v 0 0 0");
  m->ParseLine(corners(65536));
  ASSERT_EQ(m->Groups.size(), 1u);
  ASSERT_EQ(m->Groups[0].Faces.size(), 1u);
  EXPECT_EQ(m->Groups[0].Faces[0].CornerCount, 65536) << "the largest face is kept whole";
  try {
    m->ParseLine(corners(65537));
    ADD_FAILURE() << "a face with 65537 corners was accepted";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "a face with more than 65536 corners");
  }
  // The refused face leaves nothing behind: the next face follows the first directly.
  EXPECT_EQ(m->Groups[0].FaceCount, 1);
  EXPECT_EQ(m->Corners.size(), 65536u);
  m->ParseLine("f 1 1 1");
  ASSERT_EQ(m->Groups[0].Faces.size(), 2u);
  EXPECT_EQ(m->Groups[0].Faces[1].FirstCorner, 65536);
  EXPECT_EQ(m->Groups[0].FaceCount, 2);
  // A first face that is refused takes back the group it opened, as before any face.
  auto fresh = std::make_unique<TOBJFile>();
  EXPECT_THROW(fresh->ParseLine(corners(70000)), Error);
  EXPECT_TRUE(fresh->Groups.empty());
  EXPECT_EQ(fresh->CurrentGroup, -1);
  EXPECT_TRUE(fresh->Corners.empty());
}

TEST(OBJParse, GroupsMaterialsAndLibraryNames) {
  auto m = ParseOBJ({"# comment", "g", "o object", "s 1", "l 1 2", "g a b ", "f 1 2 3",
                     "g Hull # note", "usemtl Red", "f 1 2 3", "g a b", "usemtl Blue Steel",
                     "f 1 2 3", "mtllib ./Mat/A.mtl", "usemtl", "f 1 2 3"});
  ASSERT_EQ(m->Groups.size(), 3u);
  EXPECT_EQ(m->Groups[0].Name, "a b") << "names after 'g' form one trimmed name";
  EXPECT_EQ(m->Groups[1].Name, "hull # note") << "a comment after 'g' belongs to the name";
  EXPECT_EQ(m->Groups[2].Name, "a b") << "every 'g' line makes a new group";
  EXPECT_EQ(m->CurrentGroup, 2);
  EXPECT_EQ(m->FaceMaterialName(m->Groups[0].Faces[0]), "");
  EXPECT_EQ(m->FaceMaterialName(m->Groups[1].Faces[0]), "red");
  EXPECT_EQ(m->FaceMaterialName(m->Groups[2].Faces[0]), "blue steel");
  EXPECT_EQ(m->FaceMaterialName(m->Groups[2].Faces[1]), "blue steel") << "'usemtl' alone is short";
  EXPECT_EQ(m->CurrentMaterial, "blue steel");
  EXPECT_EQ(m->MaterialLibName, ".\\mat\\a.mtl");
  EXPECT_EQ(m->MaterialNames.size(), 2u) << "names are stored once";

  auto empty = ParseOBJ({"# nothing", "v 1 2 3"});
  empty->FinishLoading();
  ASSERT_EQ(empty->Groups.size(), 1u);
  EXPECT_EQ(empty->Groups[0].Name, "g default");
  EXPECT_EQ(empty->Groups[0].FaceCount, -1);

  auto untitled = ParseOBJ({"v 1 2 3", "f 1 1 1"});
  untitled->FinishLoading();
  ASSERT_EQ(untitled->Groups.size(), 1u);
  EXPECT_EQ(untitled->Groups[0].Name, "Untitled");
  EXPECT_EQ(untitled->Groups[0].FaceCount, 1);
}

TEST(OBJParse, LongGroupsSplitEvery5000Faces) {
  auto m = std::make_unique<TOBJFile>();
  m->ParseLine("v 0 0 0");
  m->ParseLine("g Hull");
  m->ParseLine("usemtl x");
  for (int i = 0; i < 10001; ++i)
    m->ParseLine("f 1 1 1");
  m->FinishLoading();
  ASSERT_EQ(m->Groups.size(), 3u);
  EXPECT_EQ(m->Groups[0].Name, "hull");
  EXPECT_EQ(m->Groups[0].FaceCount, 5000);
  EXPECT_EQ(m->Groups[1].Name, "hull1");
  EXPECT_EQ(m->Groups[1].FaceCount, 5000);
  EXPECT_EQ(m->Groups[2].Name, "hull11");
  EXPECT_EQ(m->Groups[2].FaceCount, 1);
  EXPECT_EQ(m->Groups[2].Faces.size(), 1u);
  EXPECT_EQ(m->FaceMaterialName(m->Groups[2].Faces[0]), "x") << "the material carries on";
  EXPECT_EQ(m->TotalFaceCount(), 10001);
}

TEST(OBJParse, GeneratedNormals) {
  // The triangle (0,0,0) (1,0,0) (0,1,0) faces +Z.
  auto tri = ParseOBJ({"v 0 0 0", "v 1 0 0", "v 0 1 0", "f 1 2 3"});
  tri->FinishLoading();
  ASSERT_EQ(tri->NormalCount(), 1);
  ExpectVec(tri->Normals[0], 0, 0, 1, "triangle");
  EXPECT_EQ(tri->GeneratedNormalCount, 1);
  for (int k = 0; k < 3; ++k)
    EXPECT_EQ(tri->Corners[size_t(k)].NormalIndex, 1);

  // Collinear corners: the raw terms cancel, their unit vectors sum to (0, 0, -1).
  auto line = ParseOBJ({"v 0 0 0", "v 1 1 0", "v 2 2 0", "f 1 2 3"});
  line->FinishLoading();
  ExpectVec(line->Normals[0], 0, 0, -1, "collinear");

  // Every corner at one position: every term has length 0.
  auto point = ParseOBJ({"v 3 3 3", "f 1 1 1 1"});
  point->FinishLoading();
  ASSERT_EQ(point->NormalCount(), 1);
  ExpectVec(point->Normals[0], 0, 0, 0, "zero");

  // Mixed corners: one generated normal, used by the corner without one.
  auto mixed = ParseOBJ({"v 0 0 0", "v 1 0 0", "v 0 1 0", "vn 1 0 0", "vn 0 1 0", "vn 0 0 5",
                         "f 1//3 2 3//3", "f 1//1 2//2 3//3"});
  mixed->FinishLoading();
  ASSERT_EQ(mixed->NormalCount(), 4);
  ExpectVec(mixed->Normals[3], 0, 0, 1, "mixed");
  EXPECT_EQ(mixed->Corners[0].NormalIndex, 3);
  EXPECT_EQ(mixed->Corners[1].NormalIndex, 4);
  EXPECT_EQ(mixed->Corners[2].NormalIndex, 3);
  EXPECT_EQ(mixed->Corners[3].NormalIndex, 1) << "a face with all normals gets none";

  // Every face gets its own normal; corners outside the vertex list take no part.
  auto bad = ParseOBJ({"v 0 0 0", "v 1 0 0", "v 0 1 0", "f 1 2 99 3 0", "f 3 2 1", "f 7 8 9"});
  bad->FinishLoading();
  ASSERT_EQ(bad->NormalCount(), 3);
  ExpectVec(bad->Normals[0], 0, 0, 1, "valid corners only");
  ExpectVec(bad->Normals[1], 0, 0, -1, "reversed winding");
  ExpectVec(bad->Normals[2], 0, 0, 0, "no valid corner");
  for (const TOBJFaceVertex& c : bad->Corners)
    EXPECT_NE(c.NormalIndex, -1);
}

TEST(OBJParse, VertexAccess) {
  auto m = ParseOBJ({"v 1 2 3", "v 4 5 6"});
  TVec3 v = Vec3(9, 9, 9);
  m->GetVertex(1, v);
  ExpectVec(v, 4, 5, 6);
  m->GetVertex(2, v);
  ExpectVec(v, 0, 0, 0, "index = VertexCount");
  v = Vec3(9, 9, 9);
  m->GetVertex(-1, v);
  ExpectVec(v, 0, 0, 0, "negative index");
  m->SetVertex(0, Vec3(7, 8, 9));
  m->SetVertex(2, Vec3(1, 1, 1));
  m->SetVertex(-1, Vec3(1, 1, 1));
  ASSERT_EQ(m->VertexCount(), 2);
  ExpectVec(m->Vertices[0], 7, 8, 9);
  ExpectVec(m->Vertices[1], 4, 5, 6);
}

} // namespace
} // namespace quarvel
