// Cost of one finished view as a render job takes it: clear, draw a triangle, resolve
// and read the 400 x 400 picture back (BGRA when multisampled, BGR otherwise).
#include "gl/GLView.h"

#include <benchmark/benchmark.h>

namespace {

void DrawAndRead(benchmark::State& state, GLenum format) {
  quarvel::TOGL& view = quarvel::GLView ? *quarvel::GLView : quarvel::CreateGLView(400, 400);
  for (auto _ : state) {
    glClearColor(1, 0, 1, 0);
    view.BeginFrame();
    view.Begin2D();
    glBegin(GL_TRIANGLES);
    glVertex2f(0, 0);
    glVertex2f(400, 0);
    glVertex2f(0, 400);
    glEnd();
    view.End2D();
    view.EndFrame();
    benchmark::DoNotOptimize(view.ReadPixels(format));
  }
  state.SetLabel(view.Multisampled() ? std::to_string(view.Samples()) + " samples"
                                     : "single-sampled");
}

void BM_FrameAndReadBGRA(benchmark::State& state) {
  DrawAndRead(state, GL_BGRA);
}
void BM_FrameAndReadBGR(benchmark::State& state) {
  DrawAndRead(state, GL_BGR);
}

} // namespace

BENCHMARK(BM_FrameAndReadBGRA)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameAndReadBGR)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
