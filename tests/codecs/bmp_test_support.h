#pragma once

// Builds BMP files byte by byte, independently of the codec, and runs the codec over them.

#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include "codecs/BmpCodec.h"
#include "image/ByteStream.h"

namespace skm::test {

struct Bytes {
  std::vector<uint8_t> data;

  Bytes& u8(uint32_t v) {
    data.push_back(uint8_t(v));
    return *this;
  }
  Bytes& u16(uint32_t v) { return u8(v).u8(v >> 8); }
  Bytes& u32(uint32_t v) { return u16(v).u16(v >> 16); }
  Bytes& list(std::initializer_list<uint32_t> values) {
    for (uint32_t v : values) u8(v);
    return *this;
  }
  Bytes& zeros(std::size_t n) {
    data.insert(data.end(), n, 0);
    return *this;
  }
  Bytes& fileHeader(uint32_t fileSize, uint32_t pixelOffset) {
    return u8('B').u8('M').u32(fileSize).u16(0).u16(0).u32(pixelOffset);
  }
  Bytes& infoHeader(int32_t width, int32_t height, uint32_t bits, uint32_t compression,
                    uint32_t coloursUsed = 0, int32_t pelsPerMeter = 2835,
                    uint32_t headerSize = 40) {
    u32(headerSize).u32(uint32_t(width)).u32(uint32_t(height)).u16(1).u16(bits).u32(compression);
    u32(0).u32(uint32_t(pelsPerMeter)).u32(uint32_t(pelsPerMeter)).u32(coloursUsed).u32(0);
    return zeros(headerSize - 40);
  }
  // Palette entries i = 0..n-1 with blue i, green 2i, red 3i (all low 8 bits).
  Bytes& rampPalette(uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) list({i, 2 * i, 3 * i, 0});
    return *this;
  }
  std::size_t size() const { return data.size(); }
};

// An owning memory stream for writing.
struct OutStream {
  ByteStream stream;
  OutStream() { stream.createMemory(); }
  ~OutStream() { std::free(stream.takeBuffer()); }
  std::vector<uint8_t> bytes() const {
    const auto* p = static_cast<const uint8_t*>(stream.handle);
    return std::vector<uint8_t>(p, p + stream.size);
  }
};

inline bool decodeBytes(BmpCodec& codec, const std::vector<uint8_t>& data) {
  ByteStream in;
  in.attachMemory(const_cast<uint8_t*>(data.data()), int32_t(data.size()));
  return codec.decode(&in);
}

inline std::vector<uint8_t> encodeImage(Image& image) {
  BmpCodec codec;
  codec.shareFrom(&image);
  OutStream out;
  if (!codec.encode(&out.stream)) return {};
  return out.bytes();
}

// Picture row y counted from the top, as a viewer shows it.
inline const uint8_t* topRow(const Image& image, int32_t y) {
  return image.pixelRow(image.height() - 1 - y);
}

}  // namespace skm::test
