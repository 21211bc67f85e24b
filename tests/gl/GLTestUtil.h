// Shared GL fixture for tests: one headless context per test process.
//
//   quarvel::TOGL& view = quarvel::test::EnsureGLView();
//
// makes the program's GLView (400 x 400, the size every frame is rendered at) on first
// use and returns it, made current. This machine always has EGL (Mesa's software
// rasteriser at worst), so a failure to make the view is a test failure, not a skip:
// the exception's message says what failed.
#pragma once

#include "gl/GLView.h"

#include <gtest/gtest.h>

namespace quarvel::test {

inline TOGL& EnsureGLView() {
  if (!GLView)
    CreateGLView(400, 400);
  GLView->MakeCurrent();
  return *GLView;
}

// Asserts that GL has no pending error (and clears it), naming where.
inline void ExpectNoGLError(const char* where) {
  const GLenum e = glGetError();
  EXPECT_EQ(e, static_cast<GLenum>(GL_NO_ERROR))
      << "GL error 0x" << std::hex << e << " at " << where;
}

} // namespace quarvel::test
