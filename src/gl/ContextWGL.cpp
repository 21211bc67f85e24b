// The context's backend on Windows: WGL on a hidden window.
//
// WGL hands out its modern entry points (wglChoosePixelFormatARB,
// wglCreateContextAttribsARB) only from a current context, and a window's pixel format
// can be set once: so a first, dummy window with a plain pixel format and context finds
// them, and a second window gets the pixel format they choose and the context drawn
// with. Pictures are drawn into framebuffer objects (gl/GLView.h); the window is never
// shown.
//
// Windows' opengl32.dll exports OpenGL 1.1 only. The later functions the program calls
// are defined at the bottom of this file, each calling the driver's entry point that
// wglGetProcAddress gave once the context was made; the rest of the program calls them
// as on Linux.
//
// There is one candidate: Windows picks the driver (the GPU's, or Mesa's opengl32.dll
// put beside the program, which it loads first). Microsoft's own "GDI Generic" OpenGL
// 1.1, what a machine without a GPU driver has, draws no shaders and is refused.
// The build defines these for gl.h, which would otherwise include windows.h in every
// file of the GL side; here windows.h comes first and defines them its own way.
#undef WINGDIAPI
#undef APIENTRY
#undef CALLBACK
#include "platform/Win32Headers.h"

#include "gl/Context.h"

#include "common/Error.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/wglext.h>

#include <string>

namespace quarvel {

namespace {

using TAnyFunction = void (*)();

// The functions beyond OpenGL 1.1 that the program calls, in one list.
#define QUARVEL_WGL_FUNCTIONS(X)                                                                   \
  X(glUseProgram)                                                                                  \
  X(glBindFramebuffer)                                                                             \
  X(glUniform3f) X(glDeleteRenderbuffers) X(glFramebufferRenderbuffer) X(glBindRenderbuffer)       \
      X(glRenderbufferStorageMultisample) X(glGetUniformfv) X(glGetUniformLocation)                \
          X(glGetShaderiv) X(glGetProgramiv) X(glGenRenderbuffers) X(glCreateShader)               \
              X(glAttachShader) X(glUniform1f) X(glShaderSource) X(glLinkProgram)                  \
                  X(glGetShaderInfoLog) X(glGetProgramInfoLog) X(glGenFramebuffers)                \
                      X(glDeleteShader) X(glDeleteProgram) X(glDeleteFramebuffers)                 \
                          X(glCreateProgram) X(glCompileShader) X(glCheckFramebufferStatus)        \
                              X(glBlitFramebuffer)

enum TFunctionIndex {
#define QUARVEL_INDEX(name) Index_##name,
  QUARVEL_WGL_FUNCTIONS(QUARVEL_INDEX)
#undef QUARVEL_INDEX
      FunctionCount
};
const char* const FunctionNames[] = {
#define QUARVEL_NAME(name) #name,
    QUARVEL_WGL_FUNCTIONS(QUARVEL_NAME)
#undef QUARVEL_NAME
};

// The process's one context, made once and never destroyed (as on Linux).
struct TWGLContext {
  HWND Window = nullptr;
  HDC Device = nullptr;
  HGLRC Context = nullptr;
};
TWGLContext* Context = nullptr;

const wchar_t* const WindowClass = L"QuarvelGL";

bool RegisterWindowClass() {
  static const bool registered = [] {
    WNDCLASSW c{};
    c.style = CS_OWNDC;
    c.lpfnWndProc = ::DefWindowProcW;
    c.hInstance = ::GetModuleHandleW(nullptr);
    c.lpszClassName = WindowClass;
    return ::RegisterClassW(&c) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

HWND HiddenWindow() {
  return ::CreateWindowExW(0, WindowClass, L"Quarvel",
                           WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, 16, 16,
                           nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
}

PIXELFORMATDESCRIPTOR PlainFormat() {
  PIXELFORMATDESCRIPTOR pfd{};
  pfd.nSize = sizeof pfd;
  pfd.nVersion = 1;
  pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  pfd.iPixelType = PFD_TYPE_RGBA;
  pfd.cColorBits = 32;
  pfd.cAlphaBits = 8;
  pfd.cDepthBits = 24;
  pfd.cStencilBits = 8;
  pfd.iLayerType = PFD_MAIN_PLANE;
  return pfd;
}

template <typename T> T Entry(const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<TAnyFunction>(::wglGetProcAddress(name)));
}

struct TWGLEntries {
  PFNWGLCHOOSEPIXELFORMATARBPROC ChoosePixelFormat = nullptr;
  PFNWGLCREATECONTEXTATTRIBSARBPROC CreateContextAttribs = nullptr;
};

// The ARB entry points, found through a dummy window and context; none when the driver
// offers none (the context is then made the old way).
TWGLEntries FindEntries() {
  TWGLEntries entries;
  const HWND window = HiddenWindow();
  if (!window)
    return entries;
  const HDC dc = ::GetDC(window);
  const PIXELFORMATDESCRIPTOR pfd = PlainFormat();
  const int format = ::ChoosePixelFormat(dc, &pfd);
  if (format != 0 && ::SetPixelFormat(dc, format, &pfd)) {
    if (const HGLRC dummy = ::wglCreateContext(dc)) {
      if (::wglMakeCurrent(dc, dummy)) {
        entries.ChoosePixelFormat =
            Entry<PFNWGLCHOOSEPIXELFORMATARBPROC>("wglChoosePixelFormatARB");
        entries.CreateContextAttribs =
            Entry<PFNWGLCREATECONTEXTATTRIBSARBPROC>("wglCreateContextAttribsARB");
        ::wglMakeCurrent(nullptr, nullptr);
      }
      ::wglDeleteContext(dummy);
    }
  }
  ::ReleaseDC(window, dc);
  ::DestroyWindow(window);
  return entries;
}

// Makes the context on a fresh hidden window and makes it current; false (with `why`)
// when the system gives none.
bool MakeContext(TWGLContext& made, std::string& why) {
  if (!RegisterWindowClass()) {
    why = "cannot register a window class";
    return false;
  }
  const TWGLEntries entries = FindEntries();
  made.Window = HiddenWindow();
  if (!made.Window) {
    why = "cannot make a hidden window";
    return false;
  }
  made.Device = ::GetDC(made.Window);
  PIXELFORMATDESCRIPTOR pfd = PlainFormat();
  int format = 0;
  if (entries.ChoosePixelFormat) {
    const int attributes[] = {WGL_DRAW_TO_WINDOW_ARB,
                              GL_TRUE,
                              WGL_SUPPORT_OPENGL_ARB,
                              GL_TRUE,
                              WGL_DOUBLE_BUFFER_ARB,
                              GL_TRUE,
                              WGL_PIXEL_TYPE_ARB,
                              WGL_TYPE_RGBA_ARB,
                              WGL_COLOR_BITS_ARB,
                              32,
                              WGL_DEPTH_BITS_ARB,
                              24,
                              WGL_STENCIL_BITS_ARB,
                              8,
                              0};
    UINT count = 0;
    if (!entries.ChoosePixelFormat(made.Device, attributes, nullptr, 1, &format, &count) ||
        count == 0)
      format = 0;
  }
  if (format == 0)
    format = ::ChoosePixelFormat(made.Device, &pfd);
  if (format == 0 || !::DescribePixelFormat(made.Device, format, sizeof pfd, &pfd) ||
      !::SetPixelFormat(made.Device, format, &pfd)) {
    why = "no pixel format for OpenGL";
    return false;
  }
  // No version asked for: the driver then gives its highest compatibility-profile
  // version, which keeps display lists and fixed-function lighting.
  if (entries.CreateContextAttribs) {
    const int attributes[] = {0};
    made.Context = entries.CreateContextAttribs(made.Device, nullptr, attributes);
  }
  if (!made.Context)
    made.Context = ::wglCreateContext(made.Device);
  if (!made.Context) {
    why = "wglCreateContext failed";
    return false;
  }
  if (!::wglMakeCurrent(made.Device, made.Context)) {
    why = "wglMakeCurrent failed";
    return false;
  }
  return true;
}

void Release(TWGLContext& made) {
  ::wglMakeCurrent(nullptr, nullptr);
  if (made.Context)
    ::wglDeleteContext(made.Context);
  if (made.Device)
    ::ReleaseDC(made.Window, made.Device);
  if (made.Window)
    ::DestroyWindow(made.Window);
  made = TWGLContext{};
}

TAnyFunction Loaded[FunctionCount] = {};

// Fills Loaded from the current context; the name of the first function missing, or "".
std::string LoadFunctions() {
  for (int i = 0; i < FunctionCount; ++i) {
    Loaded[i] = Entry<TAnyFunction>(FunctionNames[i]);
    // Some drivers give small numbers instead of null for what they lack.
    const auto value = reinterpret_cast<intptr_t>(Loaded[i]);
    if (value >= -1 && value <= 3) {
      Loaded[i] = nullptr;
      return FunctionNames[i];
    }
  }
  return "";
}

} // namespace

void MakeSystemGLContext(const TGLDeviceRequest& request, TGLDeviceReport& report) {
  TGLCandidate candidate;
  candidate.Platform = "wgl";
  TWGLContext made;
  if (MakeContext(made, candidate.Failure)) {
    DescribeCurrentGLContext(candidate);
    if (candidate.Renderer == "GDI Generic") {
      candidate.Usable = false;
      candidate.Failure = "Microsoft's GDI Generic OpenGL " + candidate.Version +
                          " draws no shaders; a GPU driver is needed (or Mesa's "
                          "opengl32.dll beside the program, which draws in software)";
    } else if (candidate.Usable) {
      const std::string missing = LoadFunctions();
      if (!missing.empty()) {
        candidate.Usable = false;
        candidate.Failure = "the driver offers no " + missing;
      }
    }
  }
  report.Candidates.push_back(candidate);
  report.Choice = ChooseGLDevice(report.Candidates, request);
  if (report.Choice.Index < 0) {
    Release(made);
    throw TransientError("Cannot create the OpenGL view: " + report.Choice.Reason + ". " +
                         GLDriverNeeded);
  }
  if (!::wglMakeCurrent(made.Device, made.Context)) {
    Release(made);
    throw TransientError("Cannot create the OpenGL view: wglMakeCurrent failed. " +
                         std::string(GLDriverNeeded));
  }
  Context = new TWGLContext(made);
}

std::string GLPlatformName() {
  return Context ? "wgl" : std::string();
}

const char* GLSystemName() {
  return "WGL";
}

} // namespace quarvel

// --- The OpenGL functions beyond 1.1, through the driver's entry points ---

using quarvel::Loaded;
extern "C" void APIENTRY glUseProgram(GLuint program) {
  reinterpret_cast<decltype(&glUseProgram)>(Loaded[quarvel::Index_glUseProgram])(program);
}
extern "C" void APIENTRY glBindFramebuffer(GLenum target, GLuint framebuffer) {
  reinterpret_cast<decltype(&glBindFramebuffer)>(Loaded[quarvel::Index_glBindFramebuffer])(
      target, framebuffer);
}
extern "C" void APIENTRY glUniform3f(GLint location, GLfloat v0, GLfloat v1, GLfloat v2) {
  reinterpret_cast<decltype(&glUniform3f)>(Loaded[quarvel::Index_glUniform3f])(location, v0, v1,
                                                                               v2);
}
extern "C" void APIENTRY glDeleteRenderbuffers(GLsizei n, const GLuint* renderbuffers) {
  reinterpret_cast<decltype(&glDeleteRenderbuffers)>(Loaded[quarvel::Index_glDeleteRenderbuffers])(
      n, renderbuffers);
}
extern "C" void APIENTRY glFramebufferRenderbuffer(GLenum target, GLenum attachment,
                                                   GLenum renderbuffertarget, GLuint renderbuffer) {
  reinterpret_cast<decltype(&glFramebufferRenderbuffer)>(
      Loaded[quarvel::Index_glFramebufferRenderbuffer])(target, attachment, renderbuffertarget,
                                                        renderbuffer);
}
extern "C" void APIENTRY glBindRenderbuffer(GLenum target, GLuint renderbuffer) {
  reinterpret_cast<decltype(&glBindRenderbuffer)>(Loaded[quarvel::Index_glBindRenderbuffer])(
      target, renderbuffer);
}
extern "C" void APIENTRY glRenderbufferStorageMultisample(GLenum target, GLsizei samples,
                                                          GLenum internalformat, GLsizei width,
                                                          GLsizei height) {
  reinterpret_cast<decltype(&glRenderbufferStorageMultisample)>(
      Loaded[quarvel::Index_glRenderbufferStorageMultisample])(target, samples, internalformat,
                                                               width, height);
}
extern "C" void APIENTRY glGetUniformfv(GLuint program, GLint location, GLfloat* params) {
  reinterpret_cast<decltype(&glGetUniformfv)>(Loaded[quarvel::Index_glGetUniformfv])(
      program, location, params);
}
extern "C" GLint APIENTRY glGetUniformLocation(GLuint program, const GLchar* name) {
  return reinterpret_cast<decltype(&glGetUniformLocation)>(
      Loaded[quarvel::Index_glGetUniformLocation])(program, name);
}
extern "C" void APIENTRY glGetShaderiv(GLuint shader, GLenum pname, GLint* params) {
  reinterpret_cast<decltype(&glGetShaderiv)>(Loaded[quarvel::Index_glGetShaderiv])(shader, pname,
                                                                                   params);
}
extern "C" void APIENTRY glGetProgramiv(GLuint program, GLenum pname, GLint* params) {
  reinterpret_cast<decltype(&glGetProgramiv)>(Loaded[quarvel::Index_glGetProgramiv])(program, pname,
                                                                                     params);
}
extern "C" void APIENTRY glGenRenderbuffers(GLsizei n, GLuint* renderbuffers) {
  reinterpret_cast<decltype(&glGenRenderbuffers)>(Loaded[quarvel::Index_glGenRenderbuffers])(
      n, renderbuffers);
}
extern "C" GLuint APIENTRY glCreateShader(GLenum type) {
  return reinterpret_cast<decltype(&glCreateShader)>(Loaded[quarvel::Index_glCreateShader])(type);
}
extern "C" void APIENTRY glAttachShader(GLuint program, GLuint shader) {
  reinterpret_cast<decltype(&glAttachShader)>(Loaded[quarvel::Index_glAttachShader])(program,
                                                                                     shader);
}
extern "C" void APIENTRY glUniform1f(GLint location, GLfloat v0) {
  reinterpret_cast<decltype(&glUniform1f)>(Loaded[quarvel::Index_glUniform1f])(location, v0);
}
extern "C" void APIENTRY glShaderSource(GLuint shader, GLsizei count, const GLchar* const* string,
                                        const GLint* length) {
  reinterpret_cast<decltype(&glShaderSource)>(Loaded[quarvel::Index_glShaderSource])(
      shader, count, string, length);
}
extern "C" void APIENTRY glLinkProgram(GLuint program) {
  reinterpret_cast<decltype(&glLinkProgram)>(Loaded[quarvel::Index_glLinkProgram])(program);
}
extern "C" void APIENTRY glGetShaderInfoLog(GLuint shader, GLsizei bufSize, GLsizei* length,
                                            GLchar* infoLog) {
  reinterpret_cast<decltype(&glGetShaderInfoLog)>(Loaded[quarvel::Index_glGetShaderInfoLog])(
      shader, bufSize, length, infoLog);
}
extern "C" void APIENTRY glGetProgramInfoLog(GLuint program, GLsizei bufSize, GLsizei* length,
                                             GLchar* infoLog) {
  reinterpret_cast<decltype(&glGetProgramInfoLog)>(Loaded[quarvel::Index_glGetProgramInfoLog])(
      program, bufSize, length, infoLog);
}
extern "C" void APIENTRY glGenFramebuffers(GLsizei n, GLuint* framebuffers) {
  reinterpret_cast<decltype(&glGenFramebuffers)>(Loaded[quarvel::Index_glGenFramebuffers])(
      n, framebuffers);
}
extern "C" void APIENTRY glDeleteShader(GLuint shader) {
  reinterpret_cast<decltype(&glDeleteShader)>(Loaded[quarvel::Index_glDeleteShader])(shader);
}
extern "C" void APIENTRY glDeleteProgram(GLuint program) {
  reinterpret_cast<decltype(&glDeleteProgram)>(Loaded[quarvel::Index_glDeleteProgram])(program);
}
extern "C" void APIENTRY glDeleteFramebuffers(GLsizei n, const GLuint* framebuffers) {
  reinterpret_cast<decltype(&glDeleteFramebuffers)>(Loaded[quarvel::Index_glDeleteFramebuffers])(
      n, framebuffers);
}
extern "C" GLuint APIENTRY glCreateProgram(void) {
  return reinterpret_cast<decltype(&glCreateProgram)>(Loaded[quarvel::Index_glCreateProgram])();
}
extern "C" void APIENTRY glCompileShader(GLuint shader) {
  reinterpret_cast<decltype(&glCompileShader)>(Loaded[quarvel::Index_glCompileShader])(shader);
}
extern "C" GLenum APIENTRY glCheckFramebufferStatus(GLenum target) {
  return reinterpret_cast<decltype(&glCheckFramebufferStatus)>(
      Loaded[quarvel::Index_glCheckFramebufferStatus])(target);
}
extern "C" void APIENTRY glBlitFramebuffer(GLint srcX0, GLint srcY0, GLint srcX1, GLint srcY1,
                                           GLint dstX0, GLint dstY0, GLint dstX1, GLint dstY1,
                                           GLbitfield mask, GLenum filter) {
  reinterpret_cast<decltype(&glBlitFramebuffer)>(Loaded[quarvel::Index_glBlitFramebuffer])(
      srcX0, srcY0, srcX1, srcY1, dstX0, dstY0, dstX1, dstY1, mask, filter);
}
