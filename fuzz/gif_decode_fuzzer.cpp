// Feeds arbitrary bytes to the GIF decoder the way the converter loads pictures (loadFromMemory
// with the GIF type), asking for the first and the second frame (the second exercises
// composition onto the first). Every decoded pixel is read back.
#include <cstddef>
#include <cstdint>

#include "codecs/ImageFile.h"
#include "image/Image.h"

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
    skm::Image image;
    image.info.frameIndex = frame;
    const bool decoded = skm::loadFromMemory(image, data, int32_t(size), skm::FormatGif);
    if (decoded) {
      volatile unsigned sink = touch(image);
      (void)sink;
      if (!image.isValid()) __builtin_trap();
    }
    // Composing a later frame copies and overlays the whole first picture pixel by pixel; on a
    // huge one that only measures the sanitizers' speed.
    if (frame == 0 && (!decoded || image.blockSize() > (std::size_t{1} << 20))) break;
  }
  return 0;
}
