// Three-component single-precision vectors and texture coordinates.
//
// TVec3 carries every position, normal, colour triple and bounding-box corner of the
// model code. It is a plain 12-byte record of three 32-bit floats (X, Y, Z in that
// order, no padding) so arrays of it can be handed to OpenGL as they are. Y is the
// vertical axis of models. No invariant holds on the components; a zero vector is legal.
//
// TOBJTexCoord is the texture coordinate of the OBJ reader ("vt" lines): U, V as 32-bit
// floats, 8 bytes, no padding. It lives here beside its constructor TexCoord so that the
// model code and the maths share one definition.
//
// No OpenGL here: this header belongs to quarvel_core.
#pragma once

namespace quarvel {

struct TVec3 {
  float X = 0.0f;
  float Y = 0.0f;
  float Z = 0.0f;
};
static_assert(sizeof(TVec3) == 12, "TVec3 must be three packed floats");

struct TOBJTexCoord {
  float U = 0.0f;
  float V = 0.0f;
};
static_assert(sizeof(TOBJTexCoord) == 8, "TOBJTexCoord must be two packed floats");

// The vector (X, Y, Z) in argument order.
inline TVec3 Vec3(float X, float Y, float Z) {
  TVec3 R;
  R.X = X;
  R.Y = Y;
  R.Z = Z;
  return R;
}

// The texture coordinate (U, V) in argument order.
inline TOBJTexCoord TexCoord(float U, float V) {
  TOBJTexCoord R;
  R.U = U;
  R.V = V;
  return R;
}

// Scales V to unit length in place and returns the length it had, as a float.
// The length is the square root of X*X + Y*Y + Z*Z summed and rooted in extended
// precision (long double) and then rounded to float; each component is divided by
// that float. A vector whose rounded length is not greater than 0 (the zero vector,
// or one so tiny that its length rounds to 0) is left untouched and 0 is returned.
// Infinite or NaN components are not guarded against: they give infinite or NaN
// results, never an exception.
float Normalize(TVec3& V);

} // namespace quarvel
