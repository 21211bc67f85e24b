// The three render passes of a job and the conversion of read-back pixels into planes.
//
// Every frame of every angle is drawn three times into the program's GL view: the visual
// colours (fixed-function lighting, with a margin of enlarged copies around the model),
// the depth (through the zbufferEx program, green = depth, 0 = empty) and the side
// colours (every face with the job's built-in materials: side faces come out grey). A job
// that writes a normal map draws each view a fourth time, with the normal program (each
// pixel's normal in the camera's space as a colour); other jobs never pay for it. The
// read-back rows arrive bottom-up; the planes are top-down.
#include "common/Error.h"
#include "gl/GLView.h"
#include "gl/Shader.h"
#include "gl/Texture.h"
#include "image/Image.h"
#include "jobs/Manager.h"
#include "models/OBJFile.h"
#include "render/GLModel.h"
#include "render/RenderInputs.h"

#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace quarvel {

void T2P5D_Manager::CheckRenderable() const {
  // Without angles there is no sheet, without frames every sheet is 0 wide: nothing to
  // render, crop or save. Refused before anything is drawn, so no output is written.
  if (Angles.empty())
    throw Error(Located(SettingsFile, 0, "the job has no angle: add lines \"angle SLOT DEGREES\""));
  if (Frames.empty())
    throw Error(
        Located(SettingsFile, 0, "the job has no frame: add lines \"frame NUMBER MODEL.obj\""));
  // Settings lines are checked as they come; a job filled in by other means is checked here,
  // before the views are allocated.
  CheckViewCount(Angles.size(), Frames.size(), "");
}

int32_t T2P5D_Manager::ViewPercent(int32_t Angle, int32_t Frame) const {
  const int32_t FrameCount = static_cast<int32_t>(Frames.size());
  const int32_t LastView = FrameCount * static_cast<int32_t>(Angles.size()) - 1;
  // One angle and one frame make LastView 0: the single view is the whole pass, so 100.
  if (LastView <= 0)
    return 100;
  const long double p = static_cast<long double>(Frame + FrameCount * Angle) / LastView * 100.0L;
  return static_cast<int32_t>(p);
}

void T2P5D_Manager::PrepareModels() {
  GLModels.resize(Models.size());
  if (std::all_of(GLModels.begin(), GLModels.end(), [](const auto& m) { return m != nullptr; }))
    return;
  TextureLimits.MaxDimension = MaxTextureSize();
  // One texture set for the job: a file named by several models is decoded once, and the
  // job's decoded pictures are held only while the models upload them.
  DecodeTextures([this](size_t i, const TModelTextures& textures) {
    if (!GLModels[i])
      GLModels[i] = std::make_unique<TGLModel>(*Models[i], textures);
  });
}

void T2P5D_Manager::RenderAll(const TRenderInputs& Inputs) {
  CheckRenderable();
  if (!GLView)
    throw Error("no GL view: the render job needs the program's GL view (CreateGLView)");
  // Without the depth program pass 2 would read lit colours as depths.
  if (!Inputs.Shaders || !Inputs.Shaders->ZBufferEx || !Inputs.Shaders->ZBufferEx->Linked())
    throw Error("the depth program \"zbufferEx\" is not loaded (LoadShaderSet)");
  PrepareModels();
  ViewWidth = GLView->Width();
  ViewHeight = GLView->Height();

  std::vector<uint8_t> Buffer;
  AllocateViews();
  const int32_t FrameCount = static_cast<int32_t>(Frames.size());
  const int32_t AngleCount = static_cast<int32_t>(Angles.size());
  Report(0, "Rendering OBJs");

  for (int32_t A = 0; A < AngleCount; ++A)
    for (int32_t F = 0; F < FrameCount; ++F) {
      BeginView(A, F);
      Report(ViewPercent(A, F), "Rendering OBJs - Pass 1 (Visuals)");
      RenderView(Inputs, false, false, Buffer);
      StoreVisual(Buffer.data());
      KeepView();
    }

  for (int32_t A = 0; A < AngleCount; ++A)
    for (int32_t F = 0; F < FrameCount; ++F) {
      BeginView(A, F);
      Report(ViewPercent(A, F), "Rendering OBJs - Pass 2 (ZBuffer)");
      RenderView(Inputs, true, false, Buffer);
      StoreDepth(Buffer.data());
      KeepView();
    }

  // Every face is bound again by its material name against the job's two materials:
  // "side" faces white, faces with any other name "default" (the lookup's fallback),
  // faces without a name keep none and draw with the white reset material, so they count
  // as side pixels too. The lists are recompiled once, at the first draw of pass 3.
  for (size_t i = 0; i < Models.size(); ++i) {
    Models[i]->MaterialOverride = JobMaterials.get();
    Models[i]->ResolveMaterials();
    GLModels[i]->RebuildLists = true;
  }

  for (int32_t A = 0; A < AngleCount; ++A)
    for (int32_t F = 0; F < FrameCount; ++F) {
      BeginView(A, F);
      Report(ViewPercent(A, F), "Rendering OBJs - Pass 3 (Side Colours)");
      RenderView(Inputs, false, true, Buffer);
      StoreSide(Buffer.data());
      KeepView();
    }

  if ((SheetOptions.Maps & MapNormal) != 0) {
    if (!Inputs.Shaders->Normal || !Inputs.Shaders->Normal->Linked())
      throw Error("the normal program is not loaded (LoadShaderSet)");
    // Only the kept rectangles are read: the pass changes nothing the others stored.
    for (int32_t A = 0; A < AngleCount; ++A)
      for (int32_t F = 0; F < FrameCount; ++F) {
        CurrentAngle = A;
        CurrentFrame = F;
        Report(ViewPercent(A, F), "Rendering OBJs - Pass 4 (Normals)");
        RenderView(Inputs, false, false, Buffer, true);
        StoreNormal(Buffer.data());
      }
  }
  Buffer = std::vector<uint8_t>();

  Report(0, "Removing Gaps");
  RemoveGaps();
  if (!DumpSheetsDir.empty())
    DumpSheets(DumpSheetsDir);
  Report(0, "Making 8 Bit Palette");
  MakePalettes();
}

void T2P5D_Manager::RenderView(const TRenderInputs& Inputs, bool DepthPass, bool SidePass,
                               std::vector<uint8_t>& Buffer, bool NormalPass) {
  // GL work is measured apart from the rest of the job (the benchmark reports the share).
  const auto started = std::chrono::steady_clock::now();
  const TJobFrame& frame = Frames[static_cast<size_t>(CurrentFrame)];
  TGLModel* model = nullptr;
  if (frame.ModelIndex >= 0 && static_cast<size_t>(frame.ModelIndex) < GLModels.size())
    model = GLModels[static_cast<size_t>(frame.ModelIndex)].get();
  if (model && model->FaceByFace != LiteralDrawing) {
    model->FaceByFace = LiteralDrawing;
    model->RebuildLists = true;
  }

  GLView->BeginFrame();
  const GLfloat clearAlpha = Multisampled ? 0.0f : 1.0f;
  if (DepthPass)
    glClearColor(1, 0, 1, clearAlpha);
  else if (NormalPass)
    glClearColor(0.5f, 0.5f, 1, clearAlpha); // a multisampled edge blends with a flat normal
  else
    glClearColor(0, 0, 0, clearAlpha);
  // The claimed colour margin needs a clear stencil buffer; clearing it with the depth
  // buffer they share costs nothing more.
  const bool claimed = !DepthPass && !SidePass && !NormalPass && !LiteralDrawing;
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | (claimed ? GL_STENCIL_BUFFER_BIT : 0));
  glLoadIdentity();
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, GLView->WhiteTexture());
  glEnable(GL_DEPTH_TEST);
  glColor4f(1, 1, 1, 1);

  if (DepthPass) {
    Inputs.Shaders->ZBufferEx->Use();
    glUniform3f(Inputs.Shaders->ZBufferExSizeLoc, frame.MinY, frame.MaxY - frame.MinY,
                static_cast<GLfloat>(std::min<int>(ZMax, 127)));
  } else if (NormalPass) {
    Inputs.Shaders->Normal->Use();
    // Normals the loader made are sums for the lighting, not the surface's: such a model
    // is drawn with its faces' own normals.
    const TOBJFile* own =
        frame.ModelIndex >= 0 && static_cast<size_t>(frame.ModelIndex) < Models.size()
            ? Models[static_cast<size_t>(frame.ModelIndex)].get()
            : nullptr;
    glUniform1f(Inputs.Shaders->NormalFaceLoc, own && own->GeneratedNormalCount > 0 ? 1.0f : 0.0f);
  } else {
    glUseProgram(0);
  }

  // The job's roll is always 0 (not the preview's setting) and its tilt always 45 degrees.
  // C++ % keeps the dividend's sign like the original: -90 stays -90 (same picture as 270).
  SetModelView(Inputs, 0, 45,
               static_cast<GLfloat>(Angles[static_cast<size_t>(CurrentAngle)] % 360));

  if (!DepthPass && !SidePass && !NormalPass) {
    if (LiteralDrawing)
      DrawMarginLiteral(Inputs, model);
    else
      DrawMarginClaimed(Inputs, model);
  } else {
    const GLfloat s = static_cast<GLfloat>(Scale);
    glScalef(s, s, s);
    if (model)
      model->Draw(Inputs);
  }
  glDisable(GL_LIGHTING);
  glDisable(GL_LIGHT1);
  if (NormalPass)
    glUseProgram(0);

  Buffer = GLView->ReadPixels(Multisampled ? GL_BGRA : GL_BGR);
  GLView->EndFrame();
  GLSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

// The colour margin as it was first written: copies shrinking from 1.5 to 1.01 times the
// scale, each on a fresh depth buffer, so the pixels around the silhouette take the
// colour of the smallest enlarged copy that covers them and edge pixels blend with model
// colours rather than with the clear colour; then the model at its own scale on a
// cleared depth buffer. The model's display lists serve all 51 draws.
void T2P5D_Manager::DrawMarginLiteral(const TRenderInputs& Inputs, TGLModel* model) {
  for (int I = 1; I <= 50; ++I) {
    glPushMatrix();
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    const GLfloat S = MarginScale(I);
    glScalef(S, S, S);
    if (model)
      model->Draw(Inputs);
    glPopMatrix();
    glPopAttrib();
    glClear(GL_DEPTH_BUFFER_BIT);
  }
  const GLfloat s = static_cast<GLfloat>(Scale);
  glScalef(s, s, s);
  if (model)
    model->Draw(Inputs);
}

// The same picture with less work. Every sample ends with the colour of the smallest copy
// that covers it, so the copies are drawn smallest first (the model's own scale, then I =
// 50 down to 1) and the first copy to cover a sample claims it in the stencil buffer:
// copy c (51 for the own scale, else I) passes where the stencil value is at most c and
// writes c, so a larger copy never reaches a claimed sample, while inside one copy the
// depth test still decides between its faces. An unclaimed sample has seen no copy, so
// its depth is still the cleared one and no depth clear is needed between copies.
// Blending is never on, so the order of whole copies changes no colour; the samples a
// copy is refused are the ones whose shading the literal sequence overwrote later.
//
// Every copy starts from the state the view set (push/pop around each), like the
// literal copies; the last copy drawn is left unwrapped, so the state after the view is
// what the literal sequence's unwrapped last draw leaves (drawing the model changes the
// same state at any scale), and the stencil state is restored around it all.
void T2P5D_Manager::DrawMarginClaimed(const TRenderInputs& Inputs, TGLModel* model) {
  glPushAttrib(GL_STENCIL_BUFFER_BIT);
  glEnable(GL_STENCIL_TEST);
  glStencilMask(0xFF);
  glStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);
  for (int c = 51; c >= 1; --c) {
    const bool last = c == 1;
    glStencilFunc(GL_GEQUAL, c, 0xFF);
    glPushMatrix();
    if (!last)
      glPushAttrib(GL_ALL_ATTRIB_BITS);
    const GLfloat S = c == 51 ? static_cast<GLfloat>(Scale) : MarginScale(c);
    glScalef(S, S, S);
    if (model)
      model->Draw(Inputs);
    glPopMatrix();
    if (!last)
      glPopAttrib();
  }
  glPopAttrib();
  // The modelview matrix as the literal sequence leaves it.
  const GLfloat s = static_cast<GLfloat>(Scale);
  glScalef(s, s, s);
}

// Scale of margin copy I: Scale / (2 I) + Scale in extended precision, as a float.
float T2P5D_Manager::MarginScale(int I) const {
  return static_cast<GLfloat>(Scale / (2 * I) + Scale);
}

std::vector<uint8_t> T2P5D_Manager::DropAlpha(const uint8_t* Buffer) const {
  const size_t n = static_cast<size_t>(ViewWidth) * static_cast<size_t>(ViewHeight);
  std::vector<uint8_t> out(n * 3);
  uint8_t* d = out.data();
  for (size_t i = 0; i < n; ++i, Buffer += 4, d += 3) {
    if (Buffer[3] > 10) {
      d[0] = Buffer[0];
      d[1] = Buffer[1];
      d[2] = Buffer[2];
    } else {
      PutBackgroundKey(d);
    }
  }
  return out;
}

void T2P5D_Manager::StoreVisual(const uint8_t* Buffer) {
  std::vector<uint8_t> dropped;
  const uint8_t* src = Buffer;
  if (Multisampled) {
    dropped = DropAlpha(Buffer);
    src = dropped.data();
  }
  WorkDepthKnown = false;
  // The read-back's rows come bottom first; the work view's plane is top-down.
  WorkView.ColourPlane = FlippedRows(src, ViewWidth, ViewHeight, 3);
}

void T2P5D_Manager::StoreDepth(const uint8_t* Buffer) {
  if (Multisampled)
    StoreDepthMultisampled(Buffer);
  else
    StoreDepthPlain(Buffer);
}

void T2P5D_Manager::StoreDepthMultisampled(const uint8_t* Buffer) {
  WorkDepthKnown = true;
  for (int32_t R = 0; R < ViewHeight; ++R) {
    const int32_t Y = ViewHeight - 1 - R;
    const uint8_t* p = Buffer + static_cast<size_t>(R) * static_cast<size_t>(ViewWidth) * 4;
    uint8_t* depth = ViewDepthPixel(0, Y);
    uint8_t* colour = ViewColourPixel(0, Y);
    for (int32_t X = 0; X < ViewWidth; ++X, p += 4) {
      // Alpha is coverage: less than about half covered is background. A covered pixel
      // whose depth came out 0 (the lowest depth step averaged with the clear colour at
      // an edge) counts as empty from here on, so it is keyed like background too:
      // otherwise it would keep a colour, get a palette index and show without depth.
      if (p[3] >= 127 && p[1] != 0) {
        depth[X] = p[1];
      } else {
        depth[X] = 0;
        PutBackgroundKey(colour + 3 * X);
      }
    }
  }
}

void T2P5D_Manager::StoreDepthPlain(const uint8_t* Buffer) {
  WorkDepthKnown = true;
  for (int32_t R = 0; R < ViewHeight; ++R) {
    const int32_t Y = ViewHeight - 1 - R;
    const uint8_t* p = Buffer + static_cast<size_t>(R) * static_cast<size_t>(ViewWidth) * 3;
    uint8_t* depth = ViewDepthPixel(0, Y);
    uint8_t* colour = ViewColourPixel(0, Y);
    for (int32_t X = 0; X < ViewWidth; ++X, p += 3) {
      // The depth view's clear colour marks background; covered pixels keep pass 1's
      // colour. A covered pixel of depth 0 is empty from here on and keyed as well, so
      // that every pixel of depth 0 is background in the colour plane too.
      if (IsBackgroundKey(p) || p[1] == 0) {
        depth[X] = 0;
        PutBackgroundKey(colour + 3 * X);
      } else {
        depth[X] = p[1];
      }
    }
  }
}

void T2P5D_Manager::StoreSide(const uint8_t* Buffer) {
  std::vector<uint8_t> dropped;
  const uint8_t* src = Buffer;
  if (Multisampled) {
    dropped = DropAlpha(Buffer); // weak pixels become the key colour, never grey
    src = dropped.data();
  }
  for (int32_t R = 0; R < ViewHeight; ++R) {
    const int32_t Y = ViewHeight - 1 - R;
    const uint8_t* p = src + static_cast<size_t>(R) * static_cast<size_t>(ViewWidth) * 3;
    const uint8_t* depth = ViewDepthPixel(0, Y);
    uint8_t* colour = ViewColourPixel(0, Y);
    uint8_t* side = ViewSidePixel(0, Y);
    for (int32_t X = 0; X < ViewWidth; ++X, p += 3) {
      // Under the white light only the side material (and faces without a material)
      // come out grey; the default material's unlit black stays under the threshold.
      if (depth[X] != 0 && p[0] == p[1] && p[1] == p[2] && p[2] > 10) {
        uint8_t* c = colour + 3 * X;
        side[X] = static_cast<uint8_t>((c[0] + c[1] + c[2]) / 3);
        PutBackgroundKey(c);
      } else {
        side[X] = 0;
      }
    }
  }
}

void T2P5D_Manager::StoreNormal(const uint8_t* Buffer) {
  TViewContent& v =
      Views[static_cast<size_t>(CurrentAngle) * Frames.size() + static_cast<size_t>(CurrentFrame)];
  v.Normal.assign(static_cast<size_t>(v.Width) * static_cast<size_t>(v.Height) * 3, 0);
  const size_t stride = Multisampled ? 4 : 3;
  uint8_t* to = v.Normal.data();
  for (int32_t y = 0; y < v.Height; ++y) {
    const int32_t R = ViewHeight - 1 - (v.Top + y);
    const uint8_t* p = Buffer + (static_cast<size_t>(R) * static_cast<size_t>(ViewWidth) +
                                 static_cast<size_t>(v.Left)) *
                                    stride;
    for (int32_t x = 0; x < v.Width; ++x, p += stride, to += 3) {
      to[0] = p[2]; // read back blue, green, red
      to[1] = p[1];
      to[2] = p[0];
    }
  }
}

} // namespace quarvel
