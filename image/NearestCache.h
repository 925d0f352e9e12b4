#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "image/Image.h"

namespace skm {

// Remembers Image::nearestIndex answers by colour. Only valid while the image's palette stays
// as it was when the cache was made; the answers are the image's own, so results are identical.
class NearestCache {
 public:
  explicit NearestCache(const Image& image)
      : image_(image), slots_(new (std::nothrow) Slot[SlotCount]()) {}

  uint8_t operator()(RgbQuad colour) {
    const uint32_t key =
        (uint32_t(colour.red) << 16) | (uint32_t(colour.green) << 8) | uint32_t(colour.blue);
    if (!slots_) return image_.nearestIndex(colour);
    Slot& slot = slots_[(key * 2654435761u) >> (32 - SlotBits)];
    if (slot.tag != key + 1) {
      slot.tag = key + 1;
      slot.index = image_.nearestIndex(colour);
    }
    return slot.index;
  }

 private:
  static constexpr int SlotBits = 16;
  static constexpr uint32_t SlotCount = uint32_t{1} << SlotBits;
  struct Slot {
    uint32_t tag = 0;  // colour + 1, 0 for an empty slot
    uint8_t index = 0;
  };
  const Image& image_;
  std::unique_ptr<Slot[]> slots_;
};

// Read and write palette indices inside one stored row, without bounds checks; the callers
// keep x inside the picture.
inline uint8_t rowIndex(const uint8_t* row, uint32_t bits, int32_t x) {
  switch (bits) {
    case 1:
      return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4:
      return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    default:
      return row[x];
  }
}

inline void setRowIndex(uint8_t* row, uint32_t bits, int32_t x, uint8_t index) {
  switch (bits) {
    case 1: {
      const uint8_t mask = uint8_t(0x80 >> (x & 7));
      row[x >> 3] = (index & 1) ? uint8_t(row[x >> 3] | mask) : uint8_t(row[x >> 3] & ~mask);
      break;
    }
    case 4:
      if (x & 1)
        row[x >> 1] = uint8_t((row[x >> 1] & 0xF0) | (index & 0x0F));
      else
        row[x >> 1] = uint8_t((row[x >> 1] & 0x0F) | ((index & 0x0F) << 4));
      break;
    default:
      row[x] = index;
  }
}

}  // namespace skm
