// What a picture depends on besides the model and the view: the light, the half-ambient
// switch and the shader programs. Every drawing routine takes these as an argument, so
// a render job draws what its caller asked for and nothing the window did before it
// can change a job's bytes.
#pragma once

#include "gl/Shader.h"

#include <array>

namespace quarvel {

struct TRenderInputs {
  // Position of GL light 1 (x, y, z, w), set while the modelview matrix is the identity,
  // so fixed relative to the camera.
  std::array<float, 4> LightPosition = {-14.0f, 9.0f, 13.0f, 1.0f};
  // The colours of light 1 and the light model's ambient. The preview and the render
  // job use the same ones, so the preview shows what a render will.
  std::array<float, 4> LightAmbient = {0.0f, 0.0f, 0.0f, 1.0f};
  std::array<float, 4> LightDiffuse = {1.0f, 1.0f, 1.0f, 1.0f};
  std::array<float, 4> LightSpecular = {1.0f, 1.0f, 1.0f, 1.0f};
  std::array<float, 4> ModelAmbient = {0.2f, 0.2f, 0.2f, 1.0f};
  // When true, every face drawn with a material gets the ambient colour (0.5, 0.5, 0.5,
  // 1) instead of its Ka. Baked into display lists when they are compiled.
  bool HalfAmbient = false;
  // The depth and side programs (not owned); null draws everything fixed-function.
  const TShaderSet* Shaders = nullptr;
};

// The light's colours and the light model's ambient of `inputs` (not its position).
void SetFixedLight(const TRenderInputs& inputs);

// The view every model is drawn in, by the preview and by render jobs alike. Called with
// the identity modelview matrix: places the light with the camera, moves the model 12
// units in front of it, turns it by Roll about Z, Tilt about X and Angle about Y, and
// lights it with LIGHT1 alone (SetFixedLight), without face culling and with rescaled
// normals. The model's own scale is the caller's to apply afterwards.
void SetModelView(const TRenderInputs& inputs, float Roll, float Tilt, float Angle);

} // namespace quarvel
