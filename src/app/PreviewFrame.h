// One frame of the model preview, drawn into the GL view with the camera, light and
// transform of a render job's views, the preview's angles and scale in place of the
// job's. Needs the GL context current (gl/GLView.h); the inputs' shader programs are
// used when loaded (a depth view without them draws fixed-function).
#pragma once

#include <GL/gl.h>

#include <cstdint>

#include "app/PreviewState.h"

namespace quarvel {

class TOGL;
class TGLModel;
struct TRenderInputs;

// Draws the frame and ends it (the view's presenter receives the picture). Brings the
// state's angles into -359..359 first. shaderZ is the ZMax given to the depth shader
// (0..127). backgroundTexture 0 draws no background: the magenta clear colour shows.
// model may be null (nothing but the background is drawn).
void DrawPreviewFrame(TOGL& view, TPreviewState& state, int32_t shaderZ, GLuint backgroundTexture,
                      TGLModel* model, const TRenderInputs& inputs);

} // namespace quarvel
