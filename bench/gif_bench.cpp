// GIF decode and encode, side by side with giflib when it is linked (SKM_HAVE_GIFLIB).
// Pictures: 1024x1024 with 256 and with 16 colours (smooth areas with grain, like a reduced
// photo), a 480x48 gesture strip (flat background, a few shapes), and three dithered ones that
// bench/report makes with ImageMagick into $SKM_BENCH_PICTURES (plasma, blurred, dithered to 256
// colours): a 480x48 strip, its first 48x48 frame and a 1024x1024 picture. Both decoders read
// the same bytes, written by our encoder; both encoders get the same indices.
//
// A picture compressed again and again trains the branch predictor and stays in cache, which a
// real run never sees. The Distinct cases therefore go through 1,000 different 48x48 frames (100
// strips of 480x48, $SKM_BENCH_PICTURES/distinct-NNN.gif), each used once per pass: single
// frames, whole 10-frame animations, and strips to decode. Ours runs through the public API as
// the converter calls it, with a fresh codec (argument 0) or a reused workspace (argument 1).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "codecs/GifCodec.h"
#include "codecs/ImageFile.h"
#include "image/ByteStream.h"

#ifdef SKM_HAVE_GIFLIB
#include <gif_lib.h>
#endif

namespace {

struct Picture {
  int32_t width;
  int32_t height;
  int colors;
  std::vector<uint8_t> indices;  // one byte per pixel, top row first
  std::vector<uint8_t> gif;      // our encoding of it
  skm::Image image;
};

uint32_t nextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 24;
}

void setPicture(Picture& p);

void fill(Picture& p, int kind) {
  p.indices.resize(std::size_t(p.width) * std::size_t(p.height));
  uint32_t state = 12345;
  for (int32_t y = 0; y < p.height; ++y) {
    for (int32_t x = 0; x < p.width; ++x) {
      int v;
      if (kind == 0) {
        // Smooth bands with a little grain.
        v = ((x * x + 3 * y * y) / 1500 + x / 9 + (nextRandom(state) & 3)) % p.colors;
      } else {
        // Flat background with discs, as in a button strip.
        const int cx = (x % 48) - 24;
        const int cy = y - 24;
        const int r2 = cx * cx + cy * cy;
        v = r2 < 300 ? 1 + (x / 48) % 7 : (r2 < 420 ? 200 : 0);
      }
      p.indices[std::size_t(y) * std::size_t(p.width) + std::size_t(x)] = uint8_t(v);
    }
  }
  const uint32_t bits = p.colors <= 16 ? 4 : 8;
  p.image.create(p.width, p.height, bits, skm::FormatGif);
  setPicture(p);
}

// Takes one of the dithered pictures made by bench/report; false when it is not there.
bool load(Picture& p, const char* file, int32_t frameWidth) {
  const char* folder = std::getenv("SKM_BENCH_PICTURES");
  if (folder == nullptr) return false;
  std::ifstream in(std::string(folder) + "/" + file, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  skm::Image whole(skm::FormatGif);
  if (!skm::loadFromMemory(whole, bytes.data(), int32_t(bytes.size()), skm::FormatGif) ||
      whole.bitCount() != 8) {
    return false;
  }
  if (frameWidth > 0 && !whole.crop(0, 0, frameWidth, whole.height(), nullptr)) return false;
  p.width = whole.width();
  p.height = whole.height();
  p.indices.resize(std::size_t(p.width) * std::size_t(p.height));
  for (int32_t y = 0; y < p.height; ++y) {
    std::memcpy(p.indices.data() + std::size_t(y) * std::size_t(p.width),
                whole.pixelRow(p.height - 1 - y), std::size_t(p.width));
  }
  p.image.create(p.width, p.height, 8, skm::FormatGif);
  setPicture(p);
  return true;
}

void setPicture(Picture& p) {
  for (int i = 0; i < p.colors; ++i) {
    p.image.setPaletteColor(uint32_t(i), uint8_t(i * 37), uint8_t(i * 91), uint8_t(i * 53));
  }
  for (int32_t y = 0; y < p.height; ++y) {
    for (int32_t x = 0; x < p.width; ++x) {
      p.image.setPixelIndex(x, p.height - 1 - y,
                            p.indices[std::size_t(y) * std::size_t(p.width) + std::size_t(x)]);
    }
  }
  skm::GifCodec codec;
  codec.shareFrom(&p.image);
  skm::ByteStream out;
  out.createMemory();
  codec.encode(&out);
  p.gif.assign(static_cast<uint8_t*>(out.handle), static_cast<uint8_t*>(out.handle) + out.size);
  std::free(out.takeBuffer());
}

constexpr int PictureCount = 6;
bool present[PictureCount] = {true, true, true, false, false, false};

Picture& picture(int which) {
  static Picture pictures[PictureCount] = {{1024, 1024, 256, {}, {}, skm::Image(skm::FormatGif)},
                                           {1024, 1024, 16, {}, {}, skm::Image(skm::FormatGif)},
                                           {480, 48, 256, {}, {}, skm::Image(skm::FormatGif)},
                                           {0, 0, 256, {}, {}, skm::Image(skm::FormatGif)},
                                           {0, 0, 256, {}, {}, skm::Image(skm::FormatGif)},
                                           {0, 0, 256, {}, {}, skm::Image(skm::FormatGif)}};
  static bool ready = false;
  if (!ready) {
    fill(pictures[0], 0);
    fill(pictures[1], 0);
    fill(pictures[2], 1);
    present[3] = load(pictures[3], "strip.gif", 0);
    present[4] = load(pictures[4], "strip.gif", 48);
    present[5] = load(pictures[5], "picture-1024.gif", 0);
    ready = true;
  }
  return pictures[which];
}

// The picture for a case, or null (the case skipped) when bench/report did not make it.
Picture* casePicture(benchmark::State& state) {
  Picture& p = picture(int(state.range(0)));
  if (!present[state.range(0)]) {
    state.SkipWithError("no dithered pictures: run through bench/report");
    return nullptr;
  }
  return &p;
}

void setLabels(benchmark::State& state, const Picture& p) {
  state.SetItemsProcessed(int64_t(state.iterations()) * p.width * p.height);
  state.counters["gif_bytes"] = double(p.gif.size());
}

void BM_DecodeOurs(benchmark::State& state) {
  Picture* picked = casePicture(state);
  if (picked == nullptr) return;
  Picture& p = *picked;
  // As in a conversion, the tables are made once per thread.
  skm::GifWorkspace workspace;
  for (auto _ : state) {
    skm::ByteStream in;
    in.attachMemory(p.gif.data(), int32_t(p.gif.size()));
    auto* codec = new skm::GifCodec(&workspace);
    if (!codec->decode(&in)) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(codec->pixels);
    delete codec;
  }
  setLabels(state, p);
}

void BM_EncodeOurs(benchmark::State& state) {
  Picture* picked = casePicture(state);
  if (picked == nullptr) return;
  Picture& p = *picked;
  skm::ByteStream out;
  out.createMemory(int32_t(p.gif.size() + 4096));
  auto* codec = new skm::GifCodec();
  codec->shareFrom(&p.image);
  for (auto _ : state) {
    out.seek(0, 0);
    if (!codec->encode(&out)) state.SkipWithError("encode failed");
    benchmark::DoNotOptimize(out.handle);
  }
  delete codec;
  std::free(out.takeBuffer());
  setLabels(state, p);
}

// The distinct inputs: 100 strips, each cut into 10 frames, with our encodings of both.
struct Distinct {
  std::vector<std::unique_ptr<Picture>> strips;
  std::vector<std::unique_ptr<Picture>> frames;
  std::vector<std::vector<skm::Image*>> animations;  // the 10 frames of each strip
  bool present = false;
};

void keepPixels(Picture& p, const skm::Image& from, int32_t left) {
  p.indices.resize(std::size_t(p.width) * std::size_t(p.height));
  p.image.create(p.width, p.height, 8, skm::FormatGif);
  for (int32_t y = 0; y < p.height; ++y) {
    std::memcpy(p.indices.data() + std::size_t(y) * std::size_t(p.width),
                from.pixelRow(p.height - 1 - y) + left, std::size_t(p.width));
  }
  setPicture(p);
  p.image.info.frameDelay = 20;
}

Distinct& distinct() {
  static Distinct set;
  static bool ready = false;
  if (ready) return set;
  ready = true;
  const char* folder = std::getenv("SKM_BENCH_PICTURES");
  if (folder == nullptr) return set;
  for (int k = 0; k < 100; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "/distinct-%03d.gif", k);
    std::ifstream in(std::string(folder) + name, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    skm::Image whole(skm::FormatGif);
    if (!skm::loadFromMemory(whole, bytes.data(), int32_t(bytes.size()), skm::FormatGif) ||
        whole.bitCount() != 8 || whole.width() != 480 || whole.height() != 48) {
      return set;
    }
    set.strips.emplace_back(new Picture{480, 48, 256, {}, {}, skm::Image(skm::FormatGif)});
    keepPixels(*set.strips.back(), whole, 0);
    for (int f = 0; f < 10; ++f) {
      set.frames.emplace_back(new Picture{48, 48, 256, {}, {}, skm::Image(skm::FormatGif)});
      keepPixels(*set.frames.back(), whole, 48 * f);
    }
  }
  for (std::size_t k = 0; k < set.strips.size(); ++k) {
    set.animations.emplace_back();
    for (std::size_t f = 0; f < 10; ++f)
      set.animations[k].push_back(&set.frames[k * 10 + f]->image);
  }
  set.present = true;
  return set;
}

Distinct* distinctSet(benchmark::State& state) {
  Distinct& set = distinct();
  if (!set.present) {
    state.SkipWithError("no distinct pictures: run through bench/report");
    return nullptr;
  }
  return &set;
}

// Encodes one frame per iteration, each a different one, as the converter saves a picture.
void BM_DistinctFrameEncodeOurs(benchmark::State& state) {
  Distinct* set = distinctSet(state);
  if (set == nullptr) return;
  skm::ByteStream out;
  out.createMemory(65536);
  skm::GifWorkspace workspace;
  std::size_t next = 0;
  for (auto _ : state) {
    Picture& p = *set->frames[next];
    next = next + 1 == set->frames.size() ? 0 : next + 1;
    out.seek(0, 0);
    skm::GifCodec codec(state.range(0) != 0 ? &workspace : nullptr);
    codec.shareFrom(&p.image);
    if (!codec.encode(&out)) state.SkipWithError("encode failed");
    benchmark::DoNotOptimize(out.handle);
  }
  std::free(out.takeBuffer());
  state.SetItemsProcessed(int64_t(state.iterations()) * 48 * 48);
}

// A whole 10-frame animation per iteration, each from a different strip.
void BM_DistinctAnimationEncodeOurs(benchmark::State& state) {
  Distinct* set = distinctSet(state);
  if (set == nullptr) return;
  skm::ByteStream out;
  out.createMemory(262144);
  skm::GifWorkspace workspace;
  std::size_t next = 0;
  for (auto _ : state) {
    auto& frames = set->animations[next];
    next = next + 1 == set->animations.size() ? 0 : next + 1;
    out.seek(0, 0);
    skm::GifCodec codec(state.range(0) != 0 ? &workspace : nullptr);
    codec.setDisposalMethod(2);
    if (!codec.encodeAnimation(&out, frames.data(), int(frames.size()))) {
      state.SkipWithError("encode failed");
    }
    benchmark::DoNotOptimize(out.handle);
  }
  std::free(out.takeBuffer());
  state.SetItemsProcessed(int64_t(state.iterations()) * 480 * 48);
}

// Decodes a different strip (argument 0) or frame (argument 1) per iteration, with the tables
// made once per thread as in a conversion.
void BM_DistinctDecodeOurs(benchmark::State& state) {
  Distinct* set = distinctSet(state);
  if (set == nullptr) return;
  auto& pictures = state.range(0) == 0 ? set->strips : set->frames;
  skm::GifWorkspace workspace;
  std::size_t next = 0;
  for (auto _ : state) {
    Picture& p = *pictures[next];
    next = next + 1 == pictures.size() ? 0 : next + 1;
    skm::Image image(skm::FormatGif);
    if (!skm::loadFromMemory(image, p.gif.data(), int32_t(p.gif.size()), skm::FormatGif,
                             &workspace)) {
      state.SkipWithError("decode failed");
    }
    benchmark::DoNotOptimize(image.pixels);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * pictures[0]->width * pictures[0]->height);
}

#ifdef SKM_HAVE_GIFLIB
struct Source {
  const uint8_t* data;
  std::size_t size;
  std::size_t at;
};

int readMemory(GifFileType* gif, GifByteType* buffer, int length) {
  auto* source = static_cast<Source*>(gif->UserData);
  std::size_t n = std::size_t(length);
  if (n > source->size - source->at) n = source->size - source->at;
  std::memcpy(buffer, source->data + source->at, n);
  source->at += n;
  return int(n);
}

int writeMemory(GifFileType* gif, const GifByteType* buffer, int length) {
  auto* sink = static_cast<std::vector<uint8_t>*>(gif->UserData);
  sink->insert(sink->end(), buffer, buffer + length);
  return length;
}

void BM_DecodeGiflib(benchmark::State& state) {
  Picture* picked = casePicture(state);
  if (picked == nullptr) return;
  Picture& p = *picked;
  for (auto _ : state) {
    Source source{p.gif.data(), p.gif.size(), 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&source, readMemory, &error);
    if (gif == nullptr || DGifSlurp(gif) != GIF_OK) state.SkipWithError("giflib decode failed");
    benchmark::DoNotOptimize(gif->SavedImages);
    DGifCloseFile(gif, &error);
  }
  setLabels(state, p);
}

void BM_EncodeGiflib(benchmark::State& state) {
  Picture* picked = casePicture(state);
  if (picked == nullptr) return;
  Picture& p = *picked;
  std::vector<GifColorType> colors(std::size_t(p.colors));
  for (int i = 0; i < p.colors; ++i) {
    colors[std::size_t(i)] = {uint8_t(i * 37), uint8_t(i * 91), uint8_t(i * 53)};
  }
  std::vector<uint8_t> sink;
  sink.reserve(p.gif.size() + 4096);
  for (auto _ : state) {
    sink.clear();
    int error = 0;
    GifFileType* gif = EGifOpen(&sink, writeMemory, &error);
    ColorMapObject* map = GifMakeMapObject(p.colors, colors.data());
    EGifPutScreenDesc(gif, p.width, p.height, 8, 0, map);
    EGifPutImageDesc(gif, 0, 0, p.width, p.height, false, nullptr);
    for (int32_t y = 0; y < p.height; ++y) {
      EGifPutLine(gif, p.indices.data() + std::size_t(y) * std::size_t(p.width), p.width);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    benchmark::DoNotOptimize(sink.data());
  }
  setLabels(state, p);
}

void giflibColors(const Picture& p, std::vector<GifColorType>& colors) {
  colors.resize(256);
  for (int i = 0; i < 256; ++i) {
    const skm::RgbQuad& c = p.image.palette()[i];
    colors[std::size_t(i)] = {c.red, c.green, c.blue};
  }
}

void giflibFrame(GifFileType* gif, const Picture& p) {
  const uint8_t control[4] = {0x08, 20, 0, 0};
  EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control);
  EGifPutImageDesc(gif, 0, 0, p.width, p.height, false, nullptr);
  for (int32_t y = 0; y < p.height; ++y) {
    EGifPutLine(gif, const_cast<uint8_t*>(p.indices.data()) + std::size_t(y) * std::size_t(p.width),
                p.width);
  }
}

// giflib's side of the distinct cases: the same frames, animations and strips, the same order.
void BM_DistinctFrameEncodeGiflib(benchmark::State& state) {
  Distinct* set = distinctSet(state);
  if (set == nullptr) return;
  std::vector<uint8_t> sink;
  sink.reserve(65536);
  std::vector<GifColorType> colors;
  std::size_t next = 0;
  for (auto _ : state) {
    const Picture& p = *set->frames[next];
    next = next + 1 == set->frames.size() ? 0 : next + 1;
    sink.clear();
    giflibColors(p, colors);
    int error = 0;
    GifFileType* gif = EGifOpen(&sink, writeMemory, &error);
    ColorMapObject* map = GifMakeMapObject(256, colors.data());
    EGifPutScreenDesc(gif, p.width, p.height, 8, 0, map);
    giflibFrame(gif, p);
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    benchmark::DoNotOptimize(sink.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 48 * 48);
}

void BM_DistinctAnimationEncodeGiflib(benchmark::State& state) {
  Distinct* set = distinctSet(state);
  if (set == nullptr) return;
  std::vector<uint8_t> sink;
  sink.reserve(262144);
  std::vector<GifColorType> colors;
  std::size_t next = 0;
  for (auto _ : state) {
    const std::size_t strip = next;
    next = next + 1 == set->strips.size() ? 0 : next + 1;
    sink.clear();
    giflibColors(*set->frames[strip * 10], colors);
    int error = 0;
    GifFileType* gif = EGifOpen(&sink, writeMemory, &error);
    ColorMapObject* map = GifMakeMapObject(256, colors.data());
    EGifPutScreenDesc(gif, 48, 48, 8, 0, map);
    const uint8_t loop[3] = {1, 0, 0};
    EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE);
    EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0");
    EGifPutExtensionBlock(gif, 3, loop);
    EGifPutExtensionTrailer(gif);
    for (std::size_t f = 0; f < 10; ++f) giflibFrame(gif, *set->frames[strip * 10 + f]);
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    benchmark::DoNotOptimize(sink.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 480 * 48);
}

void BM_DistinctDecodeGiflib(benchmark::State& state) {
  Distinct* set = distinctSet(state);
  if (set == nullptr) return;
  auto& pictures = state.range(0) == 0 ? set->strips : set->frames;
  std::size_t next = 0;
  for (auto _ : state) {
    const Picture& p = *pictures[next];
    next = next + 1 == pictures.size() ? 0 : next + 1;
    Source source{p.gif.data(), p.gif.size(), 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&source, readMemory, &error);
    if (gif == nullptr || DGifSlurp(gif) != GIF_OK) state.SkipWithError("giflib decode failed");
    benchmark::DoNotOptimize(gif->SavedImages);
    DGifCloseFile(gif, &error);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * pictures[0]->width * pictures[0]->height);
}
#endif

// Argument: 0 = 1024x1024 256 colours, 1 = 1024x1024 16 colours, 2 = 480x48 strip; dithered:
// 3 = 480x48 strip, 4 = 48x48 frame, 5 = 1024x1024.
BENCHMARK(BM_DecodeOurs)->DenseRange(0, 5)->Unit(benchmark::kMicrosecond);
#ifdef SKM_HAVE_GIFLIB
BENCHMARK(BM_DecodeGiflib)->DenseRange(0, 5)->Unit(benchmark::kMicrosecond);
#endif
BENCHMARK(BM_EncodeOurs)->DenseRange(0, 5)->Unit(benchmark::kMicrosecond);
#ifdef SKM_HAVE_GIFLIB
BENCHMARK(BM_EncodeGiflib)->DenseRange(0, 5)->Unit(benchmark::kMicrosecond);
#endif
BENCHMARK(BM_DistinctFrameEncodeOurs)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DistinctAnimationEncodeOurs)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DistinctDecodeOurs)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);
#ifdef SKM_HAVE_GIFLIB
BENCHMARK(BM_DistinctFrameEncodeGiflib)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DistinctAnimationEncodeGiflib)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DistinctDecodeGiflib)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);
#endif

}  // namespace

BENCHMARK_MAIN();
