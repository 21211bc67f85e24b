// Built-in copies of the shader files in shaders/, used when the asset folder has none.
// Keep them equal to those files: a test compares them byte for byte.
#include "gl/Shader.h"

namespace quarvel {

const char* const BuiltinShaderFiles[] = {
    "zbuffer.vglsl", "zbuffer.fglsl", "zbufferEx.vglsl", "zbufferEx.fglsl", "sidecol.vglsl",
    "sidecol.fglsl", nullptr};

const char* const BuiltinShaderTexts[] = {
    // zbuffer.vglsl
    R"glsl(#version 120
// Preview of the depth pass: passes the model-space height of each vertex on to the
// fragment shader, which turns it into the pixel's depth byte.
varying float ModelY;

void main() {
  ModelY = gl_Vertex.y;
  gl_TexCoord[0] = gl_MultiTexCoord0;
  gl_Position = ftransform();
}
)glsl",
    // zbuffer.fglsl
    R"glsl(#version 120
// Preview of the depth pass: the depth byte of zbufferEx shown as a grey level.
// size.x = lowest model-space Y, size.y = highest minus lowest, size.z = ZMax.
uniform vec3 size;
varying float ModelY;

void main() {
  float f = 0.0;
  if (size.y > 0.0)
    f = clamp((ModelY - size.x) / size.y, 0.0, 1.0);
  float d = 1.0 + floor(f * max(size.z - 1.0, 0.0) + 0.5);
  gl_FragColor = vec4(vec3(d / 255.0), 1.0);
}
)glsl",
    // zbufferEx.vglsl
    R"glsl(#version 120
// Depth pass of a render job: passes the model-space height of each vertex on to the
// fragment shader, which turns it into the pixel's depth byte.
varying float ModelY;

void main() {
  ModelY = gl_Vertex.y;
  gl_TexCoord[0] = gl_MultiTexCoord0;
  gl_Position = ftransform();
}
)glsl",
    // zbufferEx.fglsl
    R"glsl(#version 120
// Depth byte of a covered pixel, written to green: 1 at the frame's lowest point, ZMax
// at its highest, so 0 stays free to mean "empty".
// size.x = lowest model-space Y, size.y = highest minus lowest, size.z = ZMax.
uniform vec3 size;
varying float ModelY;

void main() {
  float f = 0.0;
  if (size.y > 0.0)
    f = clamp((ModelY - size.x) / size.y, 0.0, 1.0);
  // GLSL 1.20 has no round(): floor(x + 0.5) rounds the non-negative value.
  float d = 1.0 + floor(f * max(size.z - 1.0, 0.0) + 0.5);
  // Alpha 1 marks the pixel as covered; red and blue 0 keep it off the magenta key.
  gl_FragColor = vec4(0.0, d / 255.0, 0.0, 1.0);
}
)glsl",
    // sidecol.vglsl
    R"glsl(#version 120
// Side colours: the model's shape only.
void main() {
  gl_TexCoord[0] = gl_MultiTexCoord0;
  gl_Position = ftransform();
}
)glsl",
    // sidecol.fglsl
    R"glsl(#version 120
// Side colours: every covered pixel plain white.
void main() {
  gl_FragColor = vec4(1.0);
}
)glsl",
    nullptr};

} // namespace quarvel
