// Texture decoding speed on the real textures of the shared test data: a 2048 x 2048 JPEG,
// a 1024 x 1024 PNG and a BMP. Skips a file that is absent.

#include "image/Image.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// QUARVEL_SHARED_TESTDATA when set, else the shared folder beside the source tree.
std::string Root() {
  const char* env = std::getenv("QUARVEL_SHARED_TESTDATA");
  const std::filesystem::path shared =
      env != nullptr ? std::filesystem::path(env)
                     : std::filesystem::path(__FILE__).parent_path() / "../../shared/testdata";
  return (shared / "real-obj").string() + "/";
}

void Decode(benchmark::State& state,
            quarvel::TDecodedImage (*decode)(const std::string&, int, long long),
            const std::string& name) {
  const std::string file = Root() + name;
  if (!std::filesystem::exists(file)) {
    state.SkipWithError(("missing " + file).c_str());
    return;
  }
  size_t pixels = 0;
  for (auto _ : state) {
    const quarvel::TDecodedImage image = decode(file, 16384, quarvel::MaxImagePixels);
    pixels = static_cast<size_t>(image.Width) * static_cast<size_t>(image.Height);
    benchmark::DoNotOptimize(image.Pixels.data());
  }
  state.counters["Mpixel/s"] = benchmark::Counter(static_cast<double>(pixels) / 1e6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

void BM_DecodeJPEG(benchmark::State& state) {
  Decode(state, quarvel::DecodeJPEG,
         "polyhaven-grandfather-clock/textures/vintage_grandfather_clock_01_diff_2k.jpg");
}
void BM_DecodePNG(benchmark::State& state) {
  Decode(state, quarvel::DecodePNG, "spot/spot_texture.png");
}
void BM_DecodeBMP(benchmark::State& state) {
  Decode(state, quarvel::DecodeBMP, "ogldev-hheli-bmp/hheli.bmp");
}

} // namespace

BENCHMARK(BM_DecodeJPEG)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodePNG)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBMP)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
