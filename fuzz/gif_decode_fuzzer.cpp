// Feeds arbitrary bytes to the GIF decoder, asking for the first and the second frame (the
// second exercises composition onto the first). Every decoded pixel is read back.
#include <cstddef>
#include <cstdint>

#include "codecs/GifCodec.h"
#include "image/ByteStream.h"

namespace {

unsigned touch(const skm::Image& image) {
  unsigned sum = 0;
  // Reading a huge picture back would only measure memory bandwidth.
  if (!image.isValid() || image.blockSize() > (std::size_t{1} << 22)) return 0;
  for (int32_t y = 0; y < image.height(); ++y) {
    const uint8_t* row = image.pixelRow(y);
    for (int32_t i = 0; i < image.info.rowBytes; ++i) sum += row[i];
  }
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  for (int frame = 0; frame < 2; ++frame) {
    skm::ByteStream stream;
    stream.attachMemory(const_cast<uint8_t*>(data), int32_t(size));
    skm::GifCodec codec;
    codec.info.frameIndex = frame;
    const bool decoded = codec.decode(&stream);
    if (decoded) {
      volatile unsigned sink = touch(codec);
      (void)sink;
      if (!codec.isValid()) __builtin_trap();
    }
    // Composing a later frame copies and overlays the whole first picture pixel by pixel; on a
    // huge one that only measures the sanitizers' speed.
    if (frame == 0 && (!decoded || codec.blockSize() > (std::size_t{1} << 20))) break;
  }
  return 0;
}
