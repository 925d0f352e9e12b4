// Command-line bridge between the GIF codec and the oracle script:
//   gif_oracle_tool decode FILE [FRAME]
//     prints "ok W H BITS TRANSPARENT DELAY LOOP DISPOSAL FRAMES", then "palette" and the
//     entries as rrggbb, then "pixels" and the indices top row first, or "fail" and the decoder's
//     message.
//   gif_oracle_tool write OUT BITS W H FRAMES DELAY DISPOSAL LOOP TRANSPARENT [COMMENT]
//     writes the test pattern (see pattern()) with encode when FRAMES is 0, else encodeAnimation.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codecs/GifCodec.h"
#include "image/ByteStream.h"

namespace {

int pattern(int x, int y, int frame, int colors) {
  return (x * 7 + y * 3 + frame * 5 + (x * y) % 3) % colors;
}

int decodeFile(const char* path, int frame) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return 2;
  std::vector<uint8_t> data;
  uint8_t buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    data.insert(data.end(), buffer, buffer + n);
  std::fclose(file);
  skm::ByteStream stream;
  stream.attachMemory(data.data(), int32_t(data.size()));
  skm::GifCodec codec;
  codec.info.frameIndex = frame;
  if (!codec.decode(&stream)) {
    std::printf("fail %s\n", codec.lastError());
    return 0;
  }
  std::printf("ok %d %d %d %d %u %d %d %d\n", codec.width(), codec.height(), codec.bitCount(),
              codec.info.transparentIndex, codec.info.frameDelay, codec.loopCount(),
              codec.disposalMethod(), codec.info.frameCount);
  std::printf("palette");
  for (uint32_t i = 0; i < codec.paletteEntries(); ++i) {
    const skm::RgbQuad q = codec.getPaletteColor(i);
    std::printf(" %02x%02x%02x", q.red, q.green, q.blue);
  }
  std::printf("\npixels");
  for (int32_t y = codec.height() - 1; y >= 0; --y) {
    for (int32_t x = 0; x < codec.width(); ++x) std::printf(" %d", codec.getPixelIndex(x, y));
  }
  std::printf("\n");
  return 0;
}

int writeFile(char** argv, int argc) {
  const char* path = argv[2];
  const uint32_t bits = uint32_t(std::atoi(argv[3]));
  const int width = std::atoi(argv[4]);
  const int height = std::atoi(argv[5]);
  const int frames = std::atoi(argv[6]);
  const int delay = std::atoi(argv[7]);
  const int disposal = std::atoi(argv[8]);
  const int loops = std::atoi(argv[9]);
  const int transparent = std::atoi(argv[10]);
  const int colors = 1 << bits;
  std::vector<skm::Image*> images;
  for (int k = 0; k < (frames == 0 ? 1 : frames); ++k) {
    auto* image = new skm::Image(width, height, bits, skm::FormatGif);
    for (int i = 0; i < colors; ++i) {
      image->setPaletteColor(uint32_t(i), uint8_t(i * 37), uint8_t(i * 91), uint8_t(i * 53));
    }
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        image->setPixelIndex(x, height - 1 - y, uint8_t(pattern(x, y, k, colors)));
      }
    }
    image->info.frameDelay = uint32_t(delay);
    image->info.transparentIndex = transparent;
    images.push_back(image);
  }
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return 2;
  skm::ByteStream stream;
  stream.attachFile(file);
  skm::GifCodec codec;
  codec.setDisposalMethod(disposal);
  codec.setLoopCount(loops);
  if (argc > 11) codec.setCommentText(argv[11]);
  bool ok;
  if (frames == 0) {
    codec.shareFrom(images[0]);
    ok = codec.encode(&stream);
  } else {
    ok = codec.encodeAnimation(&stream, images.data(), frames);
  }
  std::fclose(file);
  for (skm::Image* image : images) delete image;
  if (!ok) std::fprintf(stderr, "%s\n", codec.lastError());
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "decode") == 0) {
    return decodeFile(argv[2], argc > 3 ? std::atoi(argv[3]) : 0);
  }
  if (argc >= 11 && std::strcmp(argv[1], "write") == 0) return writeFile(argv, argc);
  std::fprintf(stderr,
               "usage: gif_oracle_tool decode FILE [FRAME] | write OUT BITS W H FRAMES DELAY "
               "DISPOSAL LOOP TRANSPARENT [COMMENT]\n");
  return 2;
}
