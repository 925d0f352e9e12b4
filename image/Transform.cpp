#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "image/Image.h"
#include "image/ImageInternal.h"

namespace skm {

bool Image::crop(int32_t left, int32_t top, int32_t right, int32_t bottom, Image* destination) {
  if (bitmapBlock == nullptr) return false;
  const int32_t w = width();
  const int32_t h = height();
  left = std::clamp(left, 0, w);
  right = std::clamp(right, 0, w);
  top = std::clamp(top, 0, h);
  bottom = std::clamp(bottom, 0, h);
  if (left == right || top == bottom) return false;
  const int32_t x0 = std::min(left, right);
  const int32_t x1 = std::max(left, right);
  const int32_t y0 = h - std::max(top, bottom);
  const int32_t y1 = h - std::min(top, bottom);

  Image result(x1 - x0, y1 - y0, bitCount(), info.formatType);
  if (!result.isValid()) return false;
  result.setPalette(palette(), paletteEntries());
  result.info.transparentIndex = info.transparentIndex;
  result.info.backgroundColor = info.backgroundColor;

  const uint32_t bits = bitCount();
  for (int32_t y = y0; y < y1; ++y) {
    const uint8_t* in = pixelRow(y);
    uint8_t* out = result.pixelRow(y - y0);
    if (bits >= 8) {
      const std::size_t bytesPerPixel = bits / 8;
      std::memcpy(out, in + std::size_t(x0) * bytesPerPixel, std::size_t(x1 - x0) * bytesPerPixel);
    } else {
      for (int32_t x = x0; x < x1; ++x) setRowIndex(out, bits, x - x0, rowIndex(in, bits, x));
    }
  }
  (destination != nullptr ? destination : this)->transfer(result);
  return true;
}

namespace {

// Source coordinate for a result coordinate: the float product, truncated.
int32_t sampleAt(int32_t i, float scale) {
  return int32_t(float(i) * scale);
}

// Maps each source palette index to the result's entry setPixelColor would pick for its colour:
// the nearest, lowest-index one. The result's palette is a copy of the source's, so that is the
// lowest index holding the same colour, found through a small hash of the colours met so far
// instead of a distance search over the whole palette per entry. A colour the result lacks
// (not possible with a copied palette) still gets the nearest entry.
void mapToFirstEqualEntry(const Image& source, const Image& result, uint8_t* indexMap) {
  constexpr uint32_t Slots = 512;  // a power of two, at least twice the entries
  constexpr uint32_t Empty = 0xFFFFFFFFu;
  uint32_t colours[Slots];
  uint8_t firsts[Slots];
  std::fill(colours, colours + Slots, Empty);
  auto rgb = [](RgbQuad c) {
    return uint32_t(c.red) | uint32_t(c.green) << 8 | uint32_t(c.blue) << 16;
  };
  auto slotOf = [&](uint32_t colour) {
    uint32_t slot = (colour * 0x9E3779B1u) >> 23;
    while (colours[slot] != Empty && colours[slot] != colour) slot = (slot + 1) & (Slots - 1);
    return slot;
  };
  const RgbQuad* entries = result.palette();
  const uint32_t resultEntries = entries != nullptr ? std::min(result.paletteEntries(), 256u) : 0;
  for (uint32_t i = 0; i < resultEntries; ++i) {
    const uint32_t colour = rgb(entries[i]);
    const uint32_t slot = slotOf(colour);
    if (colours[slot] == Empty) {
      colours[slot] = colour;
      firsts[slot] = uint8_t(i);
    }
  }
  const uint32_t sourceEntries = std::min(source.paletteEntries(), 256u);
  for (uint32_t k = 0; k < sourceEntries; ++k) {
    const RgbQuad colour = source.getPaletteColor(k);
    const uint32_t slot = slotOf(rgb(colour));
    indexMap[k] = colours[slot] != Empty ? firsts[slot] : result.nearestIndex(colour);
  }
}

void resampleNearest(Image& source, Image& result, float xScale, float yScale) {
  const int32_t w = source.width();
  const int32_t h = source.height();
  const int32_t newWidth = result.width();
  const int32_t newHeight = result.height();
  const uint32_t bits = source.bitCount();

  uint8_t indexMap[256] = {};
  if (bits != 24) mapToFirstEqualEntry(source, result, indexMap);

  for (int32_t i = 0; i < newHeight; ++i) {
    source.info.progress = int32_t(int64_t(i) * 100 / newHeight);
    if (source.info.escape != 0) break;
    const int32_t sy = sampleAt(i, yScale);
    uint8_t* out = result.pixelRow(i);
    const uint8_t* in = sy < h ? source.pixelRow(sy) : nullptr;
    for (int32_t j = 0; j < newWidth; ++j) {
      const int32_t sx = sampleAt(j, xScale);
      if (in == nullptr || sx >= w) {
        // Float rounding can land on the edge: that reads as the outside colour.
        result.setPixelColor(j, i, source.getPixelColor(sx, sy));
      } else if (bits == 24) {
        std::memcpy(out + std::size_t(j) * 3, in + std::size_t(sx) * 3, 3);
      } else {
        setRowIndex(out, bits, j, indexMap[rowIndex(in, bits, sx)]);
      }
    }
  }
}

bool resampleBox(const Image& source, Image& result, float xScale, float yScale) {
  const int32_t w = source.width();
  const int32_t h = source.height();
  const int32_t newWidth = result.width();
  const int32_t newHeight = result.height();
  // 64-bit sums: a large reduction multiplies whole source areas by 1000 × 255.
  const int64_t c = int64_t(xScale * yScale * 1000.0f);
  const std::size_t cells = (std::size_t(newWidth) + 1) * 3;
  std::unique_ptr<int64_t[]> rows(new (std::nothrow) int64_t[2 * cells]());
  if (!rows) return false;
  int64_t* cur = rows.get();
  int64_t* next = rows.get() + cells;
  auto store = [&](int32_t k, int32_t e, int ch, int64_t sum) {
    result.pixelRow(e)[std::size_t(k) * 3 + std::size_t(ch)] =
        uint8_t(std::min<int64_t>(sum / c, 255));
  };

  float v = yScale - 1;
  int32_t e = 0;
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* in = source.pixelRow(y);
    float u = xScale - 1;
    int32_t k = 0;
    // Float drift in u and v must never push k or e past the result; the spare column absorbs
    // the last crossing, further ones stay where they are.
    if (float(y) < v || e >= newHeight) {
      for (int32_t x = 0; x < w; ++x) {
        const uint8_t* p = in + std::size_t(x) * 3;
        if (float(x) < u || k >= newWidth) {
          for (int ch = 0; ch < 3; ++ch) cur[k * 3 + ch] += 1000 * int64_t(p[ch]);
        } else {
          const int64_t wx = int64_t((float(x) - u) * 1000.0f);
          for (int ch = 0; ch < 3; ++ch) {
            cur[k * 3 + ch] += (1000 - wx) * p[ch];
            cur[(k + 1) * 3 + ch] += wx * p[ch];
          }
          ++k;
          u += xScale;
        }
      }
    } else {
      const int64_t wy = int64_t((float(y) - v) * 1000.0f);
      for (int32_t x = 0; x < w; ++x) {
        const uint8_t* p = in + std::size_t(x) * 3;
        if (float(x) < u || k >= newWidth) {
          for (int ch = 0; ch < 3; ++ch) {
            cur[k * 3 + ch] += (1000 - wy) * p[ch];
            next[k * 3 + ch] += wy * p[ch];
          }
        } else {
          const int64_t wx = int64_t((float(x) - u) * 1000.0f);
          for (int ch = 0; ch < 3; ++ch) {
            const int64_t value = p[ch];
            cur[k * 3 + ch] += value * (1000 - wy) * (1000 - wx) / 1000;
            store(k, e, ch, cur[k * 3 + ch]);
            next[k * 3 + ch] += value * (1000 - wx) * wy / 1000;
            cur[(k + 1) * 3 + ch] += value * (1000 - wy) * wx / 1000;
            next[(k + 1) * 3 + ch] = value * wy * wx / 1000;
          }
          ++k;
          u += xScale;
        }
      }
      if (k < newWidth)
        for (int ch = 0; ch < 3; ++ch) store(k, e, ch, cur[k * 3 + ch]);
      std::swap(cur, next);
      next[0] = next[1] = next[2] = 0;
      v += yScale;
      ++e;
    }
  }
  if (e < newHeight)
    for (int32_t k = 0; k < newWidth; ++k)
      for (int ch = 0; ch < 3; ++ch) store(k, e, ch, cur[k * 3 + ch]);
  return true;
}

void resampleBilinear(Image& source, Image& result, float xScale, float yScale) {
  const int32_t w = source.width();
  const int32_t h = source.height();
  const int32_t newWidth = result.width();
  const int32_t newHeight = result.height();
  const bool truecolour = source.bitCount() == 24;
  PaletteMatcher nearest(result);
  auto colourAt = [&](int32_t x, int32_t y) -> RgbQuad {
    if (truecolour) {
      // Float rounding may reach one past the edge; the edge pixel stands in for it.
      const uint8_t* p = source.pixelRow(std::min(y, h - 1)) + std::size_t(std::min(x, w - 1)) * 3;
      return RgbQuad{p[0], p[1], p[2], 0};
    }
    return source.getPaletteColor(source.getPixelIndex(x, y));
  };

  for (int32_t i = 0; i < newHeight; ++i) {
    source.info.progress = int32_t(int64_t(i) * 100 / newHeight);
    if (source.info.escape != 0) break;
    const float fyFull = float(i) * yScale;
    const int32_t y0 = int32_t(fyFull);
    const int32_t y1 = std::min(h - 1, y0 + 1);
    const float fy = fyFull - float(y0);
    const float gy = 1 - fy;
    uint8_t* out = result.pixelRow(i);
    for (int32_t j = 0; j < newWidth; ++j) {
      const float fxFull = float(j) * xScale;
      const int32_t x0 = int32_t(fxFull);
      const int32_t x1 = std::min(w - 1, x0 + 1);
      const float fx = fxFull - float(x0);
      const float gx = 1 - fx;
      const RgbQuad c00 = colourAt(x0, y0);
      const RgbQuad c10 = colourAt(x1, y0);
      const RgbQuad c01 = colourAt(x0, y1);
      const RgbQuad c11 = colourAt(x1, y1);
      auto mix = [&](uint8_t a00, uint8_t a10, uint8_t a01, uint8_t a11) {
        const float leftSide = float(a00) * gy + float(a01) * fy;
        const float rightSide = float(a10) * gy + float(a11) * fy;
        return uint8_t(std::clamp(int32_t(leftSide * gx + rightSide * fx), 0, 255));
      };
      const RgbQuad value{mix(c00.blue, c10.blue, c01.blue, c11.blue),
                          mix(c00.green, c10.green, c01.green, c11.green),
                          mix(c00.red, c10.red, c01.red, c11.red), 0};
      if (truecolour) {
        out[std::size_t(j) * 3] = value.blue;
        out[std::size_t(j) * 3 + 1] = value.green;
        out[std::size_t(j) * 3 + 2] = value.red;
      } else {
        setRowIndex(out, result.bitCount(), j, nearest(value));
      }
    }
  }
}

}  // namespace

bool Image::resample(int32_t newWidth, int32_t newHeight, int mode) {
  if (newWidth <= 0 || newHeight <= 0 || bitmapBlock == nullptr) return false;
  if (newWidth == width() && newHeight == height()) return true;
  const float xScale = float(width()) / float(newWidth);
  const float yScale = float(height()) / float(newHeight);

  Image result(0);
  result.copyInfo(*this);
  if (result.create(newWidth, newHeight, bitCount(), info.formatType) == nullptr) return false;
  result.setPalette(palette(), 256);

  bool filled = true;
  if (mode != 0)
    resampleNearest(*this, result, xScale, yScale);
  else if (newWidth < width() && newHeight < height() && bitCount() == 24)
    filled = resampleBox(*this, result, xScale, yScale);
  else
    resampleBilinear(*this, result, xScale, yScale);
  if (!filled) return false;

  if (alpha != nullptr) {
    if (!result.alphaCreate()) return false;
    for (int32_t i = 0; i < newHeight; ++i)
      for (int32_t j = 0; j < newWidth; ++j)
        result.alphaSet(j, i, alphaGet(sampleAt(j, xScale), sampleAt(i, yScale)));
  }
  transfer(result);
  return true;
}

}  // namespace skm
