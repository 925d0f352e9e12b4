#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "image/Image.h"

namespace skm {

// Answers Image::nearestIndex for many colours against one fixed palette. The colour cube is
// cut into cells of 16 × 16 × 16; each cell keeps, in index order, the entries that can be
// nearest to some colour inside it (an entry whose closest point is farther than the best
// entry's farthest point cannot win or tie). Scanning those few with the same distance and the
// same lowest-index rule gives exactly nearestIndex's answer. Cells are filled on first use.
class PaletteMatcher {
 public:
  explicit PaletteMatcher(const Image& image) {
    const RgbQuad* entries = image.palette();
    count_ = entries != nullptr ? image.paletteEntries() : 0;
    for (uint32_t i = 0; i < count_; ++i) entries_[i] = entries[i];
    for (auto& cell : cells_) cell = Unfilled;
  }

  uint8_t operator()(RgbQuad colour) {
    if (count_ == 0) return 0;
    const uint32_t cell = (uint32_t(colour.red >> 4) << 8) | (uint32_t(colour.green >> 4) << 4) |
                          uint32_t(colour.blue >> 4);
    if (cells_[cell] == Unfilled && !fill(cell)) return slowNearest(colour);
    const uint32_t start = cells_[cell];
    const uint32_t end = start + pool_[start] + 2;
    uint32_t bestIndex = pool_[start + 1];
    int32_t best = distance(entries_[bestIndex], colour);
    for (uint32_t k = start + 2; k < end; ++k) {
      const int32_t d = distance(entries_[pool_[k]], colour);
      if (d < best) {
        best = d;
        bestIndex = pool_[k];
      }
    }
    return uint8_t(bestIndex);
  }

 private:
  static constexpr uint32_t Unfilled = 0xFFFFFFFF;

  static int32_t distance(RgbQuad a, RgbQuad b) {
    const int32_t dr = int32_t(a.red) - b.red;
    const int32_t dg = int32_t(a.green) - b.green;
    const int32_t db = int32_t(a.blue) - b.blue;
    return dr * dr + dg * dg + db * db;
  }

  static int32_t nearAxis(int32_t v, int32_t lo) {
    const int32_t d = v < lo ? lo - v : (v > lo + 15 ? v - lo - 15 : 0);
    return d * d;
  }

  static int32_t farAxis(int32_t v, int32_t lo) {
    const int32_t d = std::max(std::abs(v - lo), std::abs(v - lo - 15));
    return d * d;
  }

  uint8_t slowNearest(RgbQuad colour) const {
    uint32_t bestIndex = 0;
    int32_t best = distance(entries_[0], colour);
    for (uint32_t i = 1; i < count_; ++i) {
      const int32_t d = distance(entries_[i], colour);
      if (d < best) {
        best = d;
        bestIndex = i;
      }
    }
    return uint8_t(bestIndex);
  }

  // Pool layout per cell: the candidate count, then the candidates in index order.
  bool fill(uint32_t cell) {
    const int32_t r = int32_t(cell >> 8) << 4;
    const int32_t g = int32_t((cell >> 4) & 15) << 4;
    const int32_t b = int32_t(cell & 15) << 4;
    int32_t nearest[256];
    int32_t bound = 200000;
    for (uint32_t i = 0; i < count_; ++i) {
      const RgbQuad e = entries_[i];
      nearest[i] = nearAxis(e.red, r) + nearAxis(e.green, g) + nearAxis(e.blue, b);
      bound = std::min(bound, farAxis(e.red, r) + farAxis(e.green, g) + farAxis(e.blue, b));
    }
    const std::size_t start = pool_.size();
    try {
      pool_.push_back(0);
      for (uint32_t i = 0; i < count_; ++i)
        if (nearest[i] <= bound) pool_.push_back(uint8_t(i));
    } catch (const std::bad_alloc&) {
      pool_.resize(start);
      return false;
    }
    pool_[start] = uint8_t(pool_.size() - start - 2);
    cells_[cell] = uint32_t(start);
    return true;
  }

  RgbQuad entries_[256] = {};
  uint32_t count_ = 0;
  uint32_t cells_[4096];
  std::vector<uint8_t> pool_;
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
