#include "render/RenderInputs.h"

#include <GL/gl.h>

namespace quarvel {

void SetFixedLight(const TRenderInputs& inputs) {
  glLightfv(GL_LIGHT1, GL_AMBIENT, inputs.LightAmbient.data());
  glLightfv(GL_LIGHT1, GL_DIFFUSE, inputs.LightDiffuse.data());
  glLightfv(GL_LIGHT1, GL_SPECULAR, inputs.LightSpecular.data());
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, inputs.ModelAmbient.data());
  glLightf(GL_LIGHT1, GL_CONSTANT_ATTENUATION, 1.0f);
  glLightf(GL_LIGHT1, GL_LINEAR_ATTENUATION, 0.0f);
  glLightf(GL_LIGHT1, GL_QUADRATIC_ATTENUATION, 0.0f);
}

void SetModelView(const TRenderInputs& inputs, float Roll, float Tilt, float Angle) {
  // Set while the modelview matrix is the identity: the light is fixed to the camera.
  glLightfv(GL_LIGHT1, GL_POSITION, inputs.LightPosition.data());
  glTranslatef(0.0f, 0.0f, -12.0f);
  glRotatef(Roll, 0.0f, 0.0f, 1.0f);
  glRotatef(Tilt, 1.0f, 0.0f, 0.0f);
  glRotatef(Angle, 0.0f, 1.0f, 0.0f);
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT1);
  glDisable(GL_LIGHT0);
  glDisable(GL_CULL_FACE);
  glCullFace(GL_BACK);
  glEnable(GL_RESCALE_NORMAL);
  SetFixedLight(inputs);
}

} // namespace quarvel
