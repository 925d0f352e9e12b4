// BMP encode and decode of 1024 x 1024 pictures at 8 and 24 bits, next to plain copies of the
// same bytes: both codecs move the pixel rows in one block, so a copy is the yardstick.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "codecs/BmpCodec.h"

namespace {

using skm::BmpCodec;
using skm::ByteStream;
using skm::Image;

constexpr int32_t Side = 1024;

void fillPicture(Image& image, uint32_t bits) {
  image.create(Side, Side, bits, skm::FormatBmp);
  image.setStandardPalette();
  for (int32_t y = 0; y < Side; ++y) {
    uint8_t* row = image.pixelRow(y);
    for (int32_t i = 0; i < image.info.rowBytes; ++i) row[i] = uint8_t(i * 7 + y * 13);
  }
}

std::vector<uint8_t> encodedFile(uint32_t bits) {
  Image image;
  fillPicture(image, bits);
  BmpCodec codec;
  codec.shareFrom(&image);
  ByteStream out;
  out.createMemory();
  codec.encode(&out);
  const auto* bytes = static_cast<const uint8_t*>(out.handle);
  std::vector<uint8_t> file(bytes, bytes + out.size);
  std::free(out.takeBuffer());
  return file;
}

void BM_BmpEncode(benchmark::State& state) {
  Image image;
  fillPicture(image, uint32_t(state.range(0)));
  ByteStream out;
  out.createMemory(int32_t(image.blockSize() + 14));
  for (auto _ : state) {
    out.seek(0, 0);
    BmpCodec codec;
    codec.shareFrom(&image);
    benchmark::DoNotOptimize(codec.encode(&out));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * out.size);
  std::free(out.takeBuffer());
}

void BM_BmpDecode(benchmark::State& state) {
  std::vector<uint8_t> file = encodedFile(uint32_t(state.range(0)));
  for (auto _ : state) {
    ByteStream in;
    in.attachMemory(file.data(), int32_t(file.size()));
    BmpCodec codec;
    benchmark::DoNotOptimize(codec.decode(&in));
    benchmark::DoNotOptimize(codec.pixels);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.size()));
}

// The same bytes copied into a buffer that already exists (the encoder's case).
void BM_MemcpyPeer(benchmark::State& state) {
  std::vector<uint8_t> file = encodedFile(uint32_t(state.range(0)));
  std::vector<uint8_t> target(file.size());
  for (auto _ : state) {
    std::memcpy(target.data(), file.data(), file.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.size()));
}

// The same bytes copied into a freshly zeroed allocation (the decoder's case: it creates the
// picture it fills).
void BM_CallocMemcpyPeer(benchmark::State& state) {
  std::vector<uint8_t> file = encodedFile(uint32_t(state.range(0)));
  for (auto _ : state) {
    auto* target = static_cast<uint8_t*>(std::calloc(file.size(), 1));
    std::memcpy(target, file.data(), file.size());
    benchmark::DoNotOptimize(target);
    std::free(target);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.size()));
}

BENCHMARK(BM_BmpEncode)->ArgName("bits")->Arg(8)->Arg(24);
BENCHMARK(BM_MemcpyPeer)->ArgName("bits")->Arg(8)->Arg(24);
BENCHMARK(BM_BmpDecode)->ArgName("bits")->Arg(8)->Arg(24);
BENCHMARK(BM_CallocMemcpyPeer)->ArgName("bits")->Arg(8)->Arg(24);

}  // namespace

BENCHMARK_MAIN();
