// Image transforms on 1024 × 1024 pictures. Setup (making a fresh copy for the in-place
// transforms) runs with the timer paused; items are source pixels.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "image/Image.h"

namespace {

constexpr int32_t Side = 1024;
constexpr int64_t Pixels = int64_t(Side) * Side;

// A photo-like picture: smooth gradients with noise, so colours repeat only now and then.
skm::Image& truecolourPicture() {
  static skm::Image picture(Side, Side, 24, skm::FormatBmp);
  static const bool filled = [] {
    std::mt19937 random(1);
    for (int32_t y = 0; y < Side; ++y) {
      uint8_t* row = picture.pixelRow(y);
      for (int32_t x = 0; x < Side; ++x) {
        row[3 * x] = uint8_t(x / 4 + random() % 8);
        row[3 * x + 1] = uint8_t(y / 4 + random() % 8);
        row[3 * x + 2] = uint8_t((x + y) / 8 + random() % 8);
      }
    }
    return true;
  }();
  benchmark::DoNotOptimize(filled);
  return picture;
}

skm::Image& palettePicture() {
  static skm::Image picture(Side, Side, 8, skm::FormatGif);
  static const bool filled = [] {
    picture.setStandardPalette();
    std::mt19937 random(2);
    for (int32_t y = 0; y < Side; ++y)
      for (int32_t x = 0; x < Side; ++x) picture.pixelRow(y)[x] = uint8_t(random());
    return true;
  }();
  benchmark::DoNotOptimize(filled);
  return picture;
}

void freshCopy(benchmark::State& state, skm::Image& target, const skm::Image& source) {
  state.PauseTiming();
  target.copy(source);
  state.ResumeTiming();
}

void BM_Crop(benchmark::State& state) {
  skm::Image& source = state.range(0) == 24 ? truecolourPicture() : palettePicture();
  for (auto _ : state) {
    skm::Image frame;
    benchmark::DoNotOptimize(source.crop(100, 0, 900, Side, &frame));
    benchmark::DoNotOptimize(frame.bitmapBlock);
  }
  state.SetItemsProcessed(state.iterations() * 800 * Side);
}
BENCHMARK(BM_Crop)->ArgNames({"bits"})->Arg(8)->Arg(24)->Unit(benchmark::kMicrosecond);

void BM_CropFourBit(benchmark::State& state) {
  skm::Image source;
  source.copy(palettePicture());
  source.reduceBitDepth(4, false, nullptr);
  for (auto _ : state) {
    skm::Image frame;
    benchmark::DoNotOptimize(source.crop(101, 0, 901, Side, &frame));
  }
  state.SetItemsProcessed(state.iterations() * 800 * Side);
}
BENCHMARK(BM_CropFourBit)->Unit(benchmark::kMicrosecond);

void resampleCase(benchmark::State& state, int32_t depth, int32_t newSide, int mode) {
  skm::Image& source = depth == 24 ? truecolourPicture() : palettePicture();
  skm::Image image;
  for (auto _ : state) {
    freshCopy(state, image, source);
    benchmark::DoNotOptimize(image.resample(newSide, newSide, mode));
  }
  state.SetItemsProcessed(state.iterations() * Pixels);
}

void BM_ResampleNearest(benchmark::State& state) {
  resampleCase(state, int32_t(state.range(0)), int32_t(state.range(1)), 1);
}
BENCHMARK(BM_ResampleNearest)
    ->ArgNames({"bits", "side"})
    ->Args({24, 512})
    ->Args({8, 512})
    ->Args({24, 16});

// Mode 0 shrinking a 24-bit picture is the box filter.
void BM_ResampleBox(benchmark::State& state) {
  resampleCase(state, 24, int32_t(state.range(0)), 0);
}
BENCHMARK(BM_ResampleBox)->ArgNames({"side"})->Arg(512)->Arg(700);

// Mode 0 growing, or on any palette picture, is bilinear.
void BM_ResampleBilinear(benchmark::State& state) {
  resampleCase(state, int32_t(state.range(0)), int32_t(state.range(1)), 0);
}
BENCHMARK(BM_ResampleBilinear)->ArgNames({"bits", "side"})->Args({24, 1536})->Args({8, 512});

// Args: depth of the source, target bits, error diffusion.
void BM_ReduceBitDepth(benchmark::State& state) {
  skm::Image& source = state.range(0) == 24 ? truecolourPicture() : palettePicture();
  skm::Image image;
  for (auto _ : state) {
    freshCopy(state, image, source);
    benchmark::DoNotOptimize(
        image.reduceBitDepth(uint32_t(state.range(1)), state.range(2) != 0, nullptr));
  }
  state.SetItemsProcessed(state.iterations() * Pixels);
}
BENCHMARK(BM_ReduceBitDepth)
    ->ArgNames({"from", "to", "diffusion"})
    ->Args({24, 8, 0})
    ->Args({24, 8, 1})
    ->Args({24, 4, 0})
    ->Args({24, 1, 1})
    ->Args({8, 4, 0})
    ->Args({8, 4, 1});

}  // namespace

BENCHMARK_MAIN();
