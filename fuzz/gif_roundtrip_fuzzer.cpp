// Decodes arbitrary bytes; a picture that decodes is encoded and decoded again and must come
// back with the same size, depth, indices, delay and (without transparency) palette.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "codecs/GifCodec.h"
#include "image/ByteStream.h"

namespace {

int indexAt(const uint8_t* row, int32_t x, int bits) {
  if (bits == 1) return (row[x >> 3] >> (7 - (x & 7))) & 1;
  if (bits == 4) return (x & 1) ? (row[x >> 1] & 15) : (row[x >> 1] >> 4);
  return row[x];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  skm::ByteStream in;
  in.attachMemory(const_cast<uint8_t*>(data), int32_t(size));
  skm::GifCodec first;
  if (!first.decode(&in) || !first.isValid()) return 0;
  const int64_t area = int64_t(first.width()) * first.height();
  if (area == 0 || area > (1 << 18)) return 0;

  skm::ByteStream out;
  if (!out.createMemory()) return 0;
  skm::GifCodec writer;
  writer.shareFrom(&first);
  if (!writer.encode(&out)) __builtin_trap();
  const int32_t written = out.size;
  uint8_t* bytes = out.takeBuffer();

  skm::ByteStream again;
  again.attachMemory(bytes, written);
  skm::GifCodec second;
  if (!second.decode(&again)) __builtin_trap();
  if (second.width() != first.width() || second.height() != first.height() ||
      second.bitCount() != first.bitCount() || second.info.frameDelay != first.info.frameDelay ||
      second.info.transparentIndex != first.info.transparentIndex) {
    __builtin_trap();
  }
  const int bits = first.bitCount();
  for (int32_t y = 0; y < first.height(); ++y) {
    const uint8_t* a = first.pixelRow(y);
    const uint8_t* b = second.pixelRow(y);
    for (int32_t x = 0; x < first.width(); ++x) {
      if (indexAt(a, x, bits) != indexAt(b, x, bits)) __builtin_trap();
    }
  }
  if (first.info.transparentIndex == -1) {
    for (uint32_t i = 0; i < first.paletteEntries(); ++i) {
      const skm::RgbQuad a = first.getPaletteColor(i);
      const skm::RgbQuad b = second.getPaletteColor(i);
      if (a.red != b.red || a.green != b.green || a.blue != b.blue) __builtin_trap();
    }
  }
  std::free(bytes);
  return 0;
}
