// The process's one OpenGL context.
//
// Every picture is drawn into an offscreen framebuffer of this context (gl/GLView.h); no
// window owns it. It is desktop OpenGL, compatibility profile - display lists,
// fixed-function lighting and GLSL 1.20 are all in use - and version 2.0 or later with
// framebuffer objects. Every way the system offers to such a context is tried and the
// device is chosen as gl/DeviceChoice.h says: the first hardware renderer, else a
// software one, unless SetGLDeviceRequest asked for something else.
//
// The context is made by the first view and never torn down, so textures, display lists
// and shader programs survive any view. It is current on the thread that made it and
// stays current there until the process ends; every GL call comes from that thread.
//
// The system API that makes the context is a backend: gl/ContextEGL.cpp (headless EGL)
// is the one of Linux. A backend implements the second part of this header; the first
// part (gl/Context.cpp) is the same for all of them and needs only GL.
#pragma once

#include "gl/DeviceChoice.h"

#include <string>
#include <vector>

namespace quarvel {

// --- What the program asks of the context (gl/Context.cpp) ---

// What the context is made on: a renderer kind and optionally a device number (-1: the
// number in QUARVEL_GL_DEVICE, if any). Set it before the first view; the device is
// chosen once per process, so a different request afterwards throws quarvel::Error.
void SetGLDeviceRequest(const TGLDeviceRequest& request);

// Every candidate tried when the context was made, in list order, and the choice made
// among them (also after a failed attempt, whose Choice.Reason says why none was taken).
// Empty before the first view.
struct TGLDeviceReport {
  std::vector<TGLCandidate> Candidates;
  TGLDeviceChoice Choice;
};
const TGLDeviceReport& GLDeviceReport();

// Makes the context and makes it current, the first time only: the request above is
// read then (a device number of -1 takes QUARVEL_GL_DEVICE). Throws quarvel::Error
// saying why no candidate could be used; the report keeps the candidates tried, and the
// next call tries again.
void EnsureGLContext();

// The GL_VERSION and GL_RENDERER strings of the current context; empty without one.
std::string GLVersionString();
std::string GLRendererString();

// The sentence that ends every message about a context or framebuffer that could not be
// made.
extern const char* const GLDriverNeeded;

// --- What each backend provides (gl/ContextEGL.cpp) ---

// Tries every candidate in turn, fills `report` with them and ChooseGLDevice's choice
// for `request` (whose device number is already resolved), and makes the chosen one
// current; the others are released. Throws quarvel::Error, with `report` filled, when no
// candidate is chosen or the chosen one cannot be made current.
void MakeSystemGLContext(const TGLDeviceRequest& request, TGLDeviceReport& report);

// The way to the context that was taken, as its candidate is named ("surfaceless",
// "device 0", "default"); empty before the context is made.
std::string GLPlatformName();
// The system API the backend makes contexts with ("EGL", "WGL").
const char* GLSystemName();

// --- Shared by the backends (gl/Context.cpp) ---

// Fills Vendor, Renderer and Version of `candidate` from the context current now, and
// Usable (with Failure saying why not): OpenGL 2.0 or later with framebuffer objects.
void DescribeCurrentGLContext(TGLCandidate& candidate);

// True when the space-separated extension list (may be null) holds `name` as a whole word.
bool HasExtension(const char* list, const char* name);

} // namespace quarvel
