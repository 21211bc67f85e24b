#include "app/PreviewFrame.h"

#include "gl/GLView.h"
#include "gl/Shader.h"
#include "gl/Texture.h"
#include "render/GLModel.h"
#include "render/RenderInputs.h"

namespace quarvel {

void DrawPreviewFrame(TOGL& view, TPreviewState& state, int32_t shaderZ, GLuint backgroundTexture,
                      TGLModel* model, const TRenderInputs& inputs) {
  view.BeginFrame();
  glClearColor(1.0f, 0.0f, 1.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

  // The depth shaders colour by height: the model's measured range and the ZMax.
  if (!state.ShowZBuffer) {
    glUseProgram(0);
  } else {
    const GLfloat range = state.PreviewMaxY - state.PreviewMinY;
    const GLfloat z = static_cast<GLfloat>(shaderZ);
    const TShaderSet* shaders = inputs.Shaders;
    if (shaders && state.TrueZBuffer && shaders->ZBufferEx) {
      shaders->ZBufferEx->Use();
      glUniform3f(shaders->ZBufferExSizeLoc, state.PreviewMinY, range, z);
    } else if (shaders && !state.TrueZBuffer && shaders->ZBuffer) {
      shaders->ZBuffer->Use();
      glUniform3f(shaders->ZBufferSizeLoc, state.PreviewMinY, range, z);
    }
  }

  // Without a picture the clear colour is the background, rather than a quad drawn
  // with a texture name that holds nothing.
  if (!state.ShowZBuffer && backgroundTexture != 0) {
    view.Begin2D();
    DrawTexturedQuad(0, 0, view.Width(), view.Height(), backgroundTexture);
    view.End2D();
  }

  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, view.WhiteTexture());
  glEnable(GL_DEPTH_TEST);
  NormaliseAngles(state);
  SetModelView(inputs, static_cast<GLfloat>(state.PreviewRoll),
               static_cast<GLfloat>(state.PreviewTilt), static_cast<GLfloat>(state.PreviewAngle));
  glScalef(state.PreviewScale, state.PreviewScale, state.PreviewScale);

  if (state.ShowWireFrame)
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
  if (model != nullptr)
    model->Draw(inputs);
  if (state.ShowWireFrame)
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);

  glDisable(GL_LIGHTING);
  glDisable(GL_LIGHT1);
  // A render job that starts next draws its visual pass fixed-function.
  glUseProgram(0);
  view.EndFrame();
}

} // namespace quarvel
