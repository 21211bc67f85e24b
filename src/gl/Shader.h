// GLSL shader and program objects, and the program's three shader programs.
//
// A program is loaded from two text files sharing a base name: base + ".vglsl" (vertex
// shader) and base + ".fglsl" (fragment shader). Compile and link errors are gathered
// into one text that is shown through the message sink (common/Messages.h) with the
// title "Shader Error":
//   "Program: <link log>" CR, then for a shader that failed to compile
//   "VS (<file name>):" CR <compile log> CR  (and the same with "FS (").
// CR is the single character 13.
//
// The sources of "zbuffer", "zbufferEx" and "sidecol" are also compiled into the
// program: files in the asset folder override them, and when the files are missing the
// built-in copies are used, so the depth programs are always linked.
//
// Everything here needs the GL view's context current (gl/GLView.h). Objects own their
// GL names and delete them when destroyed.
#pragma once

#include <GL/gl.h>

#include <memory>
#include <string>

namespace quarvel {

class TGLSL_Shader {
public:
  // Creates the GL shader object (fragment when isFragment, else vertex).
  explicit TGLSL_Shader(bool isFragment);
  ~TGLSL_Shader();
  TGLSL_Shader(const TGLSL_Shader&) = delete;
  TGLSL_Shader& operator=(const TGLSL_Shader&) = delete;

  // Reads the file (found through common/FileLookup.h) and compiles it. A file that
  // cannot be read throws quarvel::Error naming it.
  void LoadFromFile(const std::string& fileName);
  // Compiles `text` as if read from `fileName`: the text is taken as lines, each passed
  // on followed by CR LF.
  void LoadFromText(const std::string& fileName, const std::string& text);
  // Compiles `text` (up to its first NUL). Log is empty on success, else the compiler's
  // log.
  void SetSourceAndCompile(const std::string& text);

  bool IsFragment = false;
  // GL shader object name; -1 until glCreateShader answers.
  GLint Handle = -1;
  // Length in bytes of the last source compiled.
  int SourceLength = 0;
  std::string ShaderFile;
  std::string Log;
};

class TGLSL_Program {
public:
  // Creates the GL program and attaches both shaders, which it owns from then on; a
  // null shader is replaced by a new one of its kind.
  explicit TGLSL_Program(std::unique_ptr<TGLSL_Shader> vertexShader = nullptr,
                         std::unique_ptr<TGLSL_Shader> fragmentShader = nullptr);
  ~TGLSL_Program();
  TGLSL_Program(const TGLSL_Program&) = delete;
  TGLSL_Program& operator=(const TGLSL_Program&) = delete;

  // Drops the extension of baseName's last path component (from its last '.'), then
  // loads base + ".vglsl" and base + ".fglsl". When the two files are not both there,
  // the built-in copies for that name are used ("zbuffer", "zbufferEx", "sidecol",
  // matched without regard to case); with no built-in copy either, Log becomes
  // "Shaders do not exist" and nothing is compiled, linked or shown.
  void LoadShaders(const std::string& baseName);
  // Only when both files exist: compiles both and links; else Log := "Shaders do not
  // exist".
  void LoadShaderFiles(const std::string& vertexFile, const std::string& fragmentFile);
  // Compiles the two texts (named as files in the error report) and links.
  void LoadShaderTexts(const std::string& vertexName, const std::string& vertexText,
                       const std::string& fragmentName, const std::string& fragmentText);
  // Links and reports errors under "Shader Error" (see the top of this file).
  void Link();
  // glUseProgram(Handle). Callers return to fixed-function drawing with glUseProgram(0).
  void Use() const;
  // True once linked successfully.
  bool Linked() const;

  std::unique_ptr<TGLSL_Shader> VertexShader;
  std::unique_ptr<TGLSL_Shader> FragmentShader;
  // GL program object name; -1 when there is none.
  GLint Handle = -1;
  // Error text of the last load; empty when all went well.
  std::string Log;
};

// GL_COMPILE_STATUS of a shader or GL_LINK_STATUS of a program; nonzero is success.
GLint GetObjectStatus(GLuint object, bool isShader);
// The info log of a shader or program, up to its first NUL; empty when there is none.
std::string GetObjectLog(GLuint object, bool isShader);

// The built-in source for a shader file name such as "zbufferEx.fglsl" (case
// ignored), or nullptr when there is none.
const char* BuiltinShaderSource(const std::string& fileName);
// Names of the built-in shader files, ending with nullptr, and their texts in the same
// order (src/gl/BuiltinShaders.cpp, kept equal to shaders/ by a test).
extern const char* const BuiltinShaderFiles[];
extern const char* const BuiltinShaderTexts[];

// The program's three shader programs and the locations of the uniform "size" in the two
// depth programs (-1 when GL finds no such uniform). Made once by each front end and
// handed to what draws (render/RenderInputs.h); nothing here is global.
struct TShaderSet {
  std::unique_ptr<TGLSL_Program> ZBuffer;
  std::unique_ptr<TGLSL_Program> ZBufferEx;
  std::unique_ptr<TGLSL_Program> SideCol;
  // The normal pass of PNG jobs with a normal map: built in only (no file overrides it,
  // so it is no input of a job), the eye-space normal of each fragment as red, green,
  // blue = normal * 0.5 + 0.5, turned to the viewer where it faces away; with the uniform
  // "faceNormals" (NormalFaceLoc) 1, each face's geometric normal instead.
  std::unique_ptr<TGLSL_Program> Normal;
  GLint NormalFaceLoc = -1;
  GLint ZBufferSizeLoc = -1;
  GLint ZBufferExSizeLoc = -1;
};

// Makes the three programs from assetDir ("zbuffer", "zbufferEx", "sidecol", in that
// order; built-in copies where the files are missing) and the normal program, and looks
// up "size". The files are
// read under the root rule with assetDir as the root (common/FileLookup.h): one that is a
// link out of it throws OutsideRoot.
TShaderSet LoadShaderSet(const std::string& assetDir);

} // namespace quarvel
