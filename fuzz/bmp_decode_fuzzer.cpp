// BMP decoding through load by format type. Whatever decodes must also survive a round trip:
// written back out and read again, it gives the same bitmap block.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codecs/ImageFile.h"

constexpr size_t RoundTripLimit = size_t(1) << 20;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > size_t(INT32_MAX)) return 0;
  skm::Image image;
  if (!skm::loadFromMemory(image, data, int32_t(size), skm::FormatBmp)) return 0;
  // Declared sizes run to hundreds of megabytes; copying those twice more finds nothing new.
  if (image.blockSize() > RoundTripLimit) return 0;

  skm::ByteStream out;
  if (!out.createMemory()) return 0;
  if (skm::saveToStream(image, out, skm::FormatBmp)) {
    skm::Image again;
    const auto* bytes = static_cast<const uint8_t*>(out.handle);
    if (!skm::loadFromMemory(again, bytes, out.size, skm::FormatBmp) ||
        again.blockSize() != image.blockSize() ||
        std::memcmp(again.bitmapBlock, image.bitmapBlock, image.blockSize()) != 0) {
      std::abort();
    }
  }
  std::free(out.takeBuffer());
  return 0;
}
