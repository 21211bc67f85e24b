#include "gl/Shader.h"

#include "common/FileLookup.h"
#include "common/Messages.h"
#include "common/Text.h"

#include <GL/glext.h>

#include <cstring>
#include <vector>

namespace quarvel {

namespace {

const char CR = '\r';

// The part after the last "/" or "\".
std::string FileNamePart(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

GLint GetObjectStatus(GLuint object, bool isShader) {
  GLint status = 0;
  if (isShader)
    glGetShaderiv(object, GL_COMPILE_STATUS, &status);
  else
    glGetProgramiv(object, GL_LINK_STATUS, &status);
  return status;
}

std::string GetObjectLog(GLuint object, bool isShader) {
  GLint length = 0;
  if (isShader)
    glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
  else
    glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
  if (length < 1)
    return {};
  std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
  if (isShader)
    glGetShaderInfoLog(object, length, nullptr, buffer.data());
  else
    glGetProgramInfoLog(object, length, nullptr, buffer.data());
  return std::string(buffer.data());
}

// ---- TGLSL_Shader ----

TGLSL_Shader::TGLSL_Shader(bool isFragment) : IsFragment(isFragment) {
  Handle = static_cast<GLint>(glCreateShader(isFragment ? GL_FRAGMENT_SHADER : GL_VERTEX_SHADER));
}

TGLSL_Shader::~TGLSL_Shader() {
  if (Handle > 0)
    glDeleteShader(static_cast<GLuint>(Handle));
}

void TGLSL_Shader::LoadFromFile(const std::string& fileName) {
  LoadFromText(fileName, ReadWholeFile(fileName, MaxShaderFileBytes, "shader file"));
}

void TGLSL_Shader::LoadFromText(const std::string& fileName, const std::string& text) {
  ShaderFile = fileName;
  // Lines end in CR LF, LF or CR; each is passed on followed by CR LF, as the shader
  // files were always read.
  std::string source;
  source.reserve(text.size() + text.size() / 16 + 2);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos)
      end = text.size();
    source.append(text, start, end - start);
    source += "\r\n";
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
      ++end;
    start = end + 1;
  }
  SetSourceAndCompile(source);
}

void TGLSL_Shader::SetSourceAndCompile(const std::string& text) {
  const std::string source = text.substr(0, std::strlen(text.c_str()));
  SourceLength = static_cast<int>(source.size());
  const GLchar* pointer = source.c_str();
  const GLint length = SourceLength;
  const GLuint shader = static_cast<GLuint>(Handle);
  glShaderSource(shader, 1, &pointer, &length);
  glCompileShader(shader);
  Log = GetObjectStatus(shader, true) ? std::string() : GetObjectLog(shader, true);
}

// ---- TGLSL_Program ----

TGLSL_Program::TGLSL_Program(std::unique_ptr<TGLSL_Shader> vertexShader,
                             std::unique_ptr<TGLSL_Shader> fragmentShader)
    : VertexShader(vertexShader ? std::move(vertexShader) : std::make_unique<TGLSL_Shader>(false)),
      FragmentShader(fragmentShader ? std::move(fragmentShader)
                                    : std::make_unique<TGLSL_Shader>(true)) {
  Handle = static_cast<GLint>(glCreateProgram());
  glAttachShader(static_cast<GLuint>(Handle), static_cast<GLuint>(VertexShader->Handle));
  glAttachShader(static_cast<GLuint>(Handle), static_cast<GLuint>(FragmentShader->Handle));
}

TGLSL_Program::~TGLSL_Program() {
  VertexShader.reset();
  FragmentShader.reset();
  if (Handle >= 0) {
    glDeleteProgram(static_cast<GLuint>(Handle));
    Handle = -1;
  }
}

void TGLSL_Program::LoadShaders(const std::string& baseName) {
  std::string base = baseName;
  const size_t slash = base.find_last_of("/\\");
  const size_t dot = base.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
    base.erase(dot);
  const std::string vertexFile = base + ".vglsl";
  const std::string fragmentFile = base + ".fglsl";
  if (FileExists(vertexFile) && FileExists(fragmentFile)) {
    LoadShaderFiles(vertexFile, fragmentFile);
    return;
  }
  const std::string vertexName = FileNamePart(vertexFile);
  const std::string fragmentName = FileNamePart(fragmentFile);
  const char* vertexText = BuiltinShaderSource(vertexName);
  const char* fragmentText = BuiltinShaderSource(fragmentName);
  if (vertexText && fragmentText)
    LoadShaderTexts(vertexName, vertexText, fragmentName, fragmentText);
  else
    Log = "Shaders do not exist";
}

void TGLSL_Program::LoadShaderFiles(const std::string& vertexFile,
                                    const std::string& fragmentFile) {
  if (!FileExists(vertexFile) || !FileExists(fragmentFile)) {
    Log = "Shaders do not exist";
    return;
  }
  VertexShader->LoadFromFile(vertexFile);
  FragmentShader->LoadFromFile(fragmentFile);
  Link();
}

void TGLSL_Program::LoadShaderTexts(const std::string& vertexName, const std::string& vertexText,
                                    const std::string& fragmentName,
                                    const std::string& fragmentText) {
  VertexShader->LoadFromText(vertexName, vertexText);
  FragmentShader->LoadFromText(fragmentName, fragmentText);
  Link();
}

void TGLSL_Program::Link() {
  const GLuint program = static_cast<GLuint>(Handle);
  glLinkProgram(program);
  Log = GetObjectStatus(program, false) ? std::string()
                                        : "Program: " + GetObjectLog(program, false) + CR;
  if (!VertexShader->Log.empty())
    Log += "VS (" + FileNamePart(VertexShader->ShaderFile) + "):" + CR + VertexShader->Log + CR;
  if (!FragmentShader->Log.empty())
    Log += "FS (" + FileNamePart(FragmentShader->ShaderFile) + "):" + CR + FragmentShader->Log + CR;
  if (!Log.empty())
    ShowMessage("Shader Error", Log);
}

void TGLSL_Program::Use() const {
  glUseProgram(static_cast<GLuint>(Handle));
}

bool TGLSL_Program::Linked() const {
  return Handle > 0 && GetObjectStatus(static_cast<GLuint>(Handle), false) != 0;
}

const char* BuiltinShaderSource(const std::string& fileName) {
  const std::string wanted = ToLowerASCII(fileName);
  for (const char* const* name = BuiltinShaderFiles; *name; ++name)
    if (ToLowerASCII(*name) == wanted)
      return BuiltinShaderTexts[name - BuiltinShaderFiles];
  return nullptr;
}

namespace {

const char* const NormalVertexText = R"(#version 120
varying vec3 EyeNormal;
varying vec3 EyePosition;

void main() {
  EyeNormal = gl_NormalMatrix * gl_Normal;
  EyePosition = (gl_ModelViewMatrix * gl_Vertex).xyz;
  gl_Position = ftransform();
}
)";

// faceNormals 1: the face's own normal from the position's change across the screen
// (always towards the viewer), for models whose normals were made by the loader, whose
// sums of edge terms are fit for the lighting they were made for but are no geometry.
// Otherwise the model's normals, turned towards the viewer where they face away: faces are
// drawn from both sides, and their winding says nothing in the files the program reads.
const char* const NormalFragmentText = R"(#version 120
uniform float faceNormals;
varying vec3 EyeNormal;
varying vec3 EyePosition;

void main() {
  vec3 n;
  if (faceNormals > 0.5) {
    n = normalize(cross(dFdx(EyePosition), dFdy(EyePosition)));
  } else {
    n = normalize(EyeNormal);
    if (dot(n, EyePosition) > 0.0)
      n = -n;
  }
  gl_FragColor = vec4(n * 0.5 + 0.5, 1.0);
}
)";

} // namespace

TShaderSet LoadShaderSet(const std::string& assetDir) {
  auto load = [&](const char* name) {
    // Shader files are inputs like any other: a link out of the root is refused.
    for (const char* ext : {".vglsl", ".fglsl"})
      ResolveInRoot(assetDir, std::string(name) + ext);
    auto program = std::make_unique<TGLSL_Program>();
    program->LoadShaders(JoinPath(assetDir, name));
    return program;
  };
  auto sizeLocation = [](const TGLSL_Program& program) {
    return program.Linked() ? glGetUniformLocation(static_cast<GLuint>(program.Handle), "size")
                            : -1;
  };
  TShaderSet set;
  set.ZBuffer = load("zbuffer");
  set.ZBufferSizeLoc = sizeLocation(*set.ZBuffer);
  set.ZBufferEx = load("zbufferEx");
  set.ZBufferExSizeLoc = sizeLocation(*set.ZBufferEx);
  set.SideCol = load("sidecol");
  set.Normal = std::make_unique<TGLSL_Program>();
  set.Normal->LoadShaderTexts("normal.vglsl", NormalVertexText, "normal.fglsl", NormalFragmentText);
  set.NormalFaceLoc =
      set.Normal->Linked()
          ? glGetUniformLocation(static_cast<GLuint>(set.Normal->Handle), "faceNormals")
          : -1;
  return set;
}

} // namespace quarvel
