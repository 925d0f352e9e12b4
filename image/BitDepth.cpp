#include <algorithm>

#include "image/Image.h"
#include "image/ImageInternal.h"

namespace skm {

namespace {

void setBlackAndWhite(Image& image) {
  image.setPaletteColor(0, 0, 0, 0);
  image.setPaletteColor(1, 255, 255, 255);
}

uint8_t addError(uint8_t channel, int32_t weight, int32_t error) {
  return uint8_t(std::clamp(int32_t(channel) + weight * error / 16, 0, 255));
}

// Every pixel mapped to the result's nearest entry, row by row. The same answers as
// result.setPixelColor(x, y, source.getPixelColor(x, y)), without a checked call per pixel.
void mapPixels(Image& source, Image& result) {
  const int32_t w = source.width();
  const int32_t h = source.height();
  const uint32_t inBits = source.bitCount();
  const uint32_t outBits = result.bitCount();
  PaletteMatcher nearest(result);
  uint8_t indexMap[256] = {};
  for (uint32_t k = 0; k < source.paletteEntries(); ++k)
    indexMap[k] = nearest(source.getPaletteColor(k));
  for (int32_t y = 0; y < h; ++y) {
    source.info.progress = int32_t(int64_t(y) * 100 / h);
    if (source.info.escape != 0) break;
    const uint8_t* in = source.pixelRow(y);
    uint8_t* out = result.pixelRow(y);
    if (inBits == 24) {
      for (int32_t x = 0; x < w; ++x) {
        const uint8_t* p = in + std::size_t(x) * 3;
        setRowIndex(out, outBits, x, nearest(RgbQuad{p[0], p[1], p[2], 0}));
      }
    } else {
      for (int32_t x = 0; x < w; ++x)
        setRowIndex(out, outBits, x, indexMap[rowIndex(in, inBits, x)]);
    }
  }
}

// Error diffusion; the source takes the pushed errors as it goes, exactly as the accessors
// would leave them (a palette source snaps each adjusted colour to its own nearest entry).
// Neighbours outside the picture are skipped, as the accessors ignore writes there.
void diffusePixels(Image& source, Image& result) {
  const int32_t w = source.width();
  const int32_t h = source.height();
  const uint32_t inBits = source.bitCount();
  const uint32_t outBits = result.bitCount();
  PaletteMatcher nearestOut(result);
  PaletteMatcher nearestIn(source);
  const RgbQuad* inPalette = source.palette();
  const RgbQuad* outPalette = result.palette();

  auto colourAt = [&](const uint8_t* row, int32_t x) -> RgbQuad {
    if (inBits < 24) return inPalette[rowIndex(row, inBits, x)];
    const uint8_t* p = row + std::size_t(x) * 3;
    return RgbQuad{p[0], p[1], p[2], 0};
  };
  auto push = [&](uint8_t* row, int32_t x, int32_t weight, int32_t eR, int32_t eG, int32_t eB) {
    if (row == nullptr || x < 0 || x >= w) return;
    const RgbQuad n = colourAt(row, x);
    const RgbQuad adjusted{addError(n.blue, weight, eB), addError(n.green, weight, eG),
                           addError(n.red, weight, eR), 0};
    if (inBits < 24) {
      setRowIndex(row, inBits, x, nearestIn(adjusted));
    } else {
      uint8_t* p = row + std::size_t(x) * 3;
      p[0] = adjusted.blue;
      p[1] = adjusted.green;
      p[2] = adjusted.red;
    }
  };

  for (int32_t y = 0; y < h; ++y) {
    source.info.progress = int32_t(int64_t(y) * 100 / h);
    if (source.info.escape != 0) break;
    uint8_t* here = source.pixelRow(y);
    uint8_t* above = y + 1 < h ? source.pixelRow(y + 1) : nullptr;
    uint8_t* out = result.pixelRow(y);
    for (int32_t x = 0; x < w; ++x) {
      const RgbQuad c = colourAt(here, x);
      const uint8_t index = nearestOut(c);
      setRowIndex(out, outBits, x, index);
      const RgbQuad q = outPalette[index];
      const int32_t eR = int32_t(c.red) - q.red;
      const int32_t eG = int32_t(c.green) - q.green;
      const int32_t eB = int32_t(c.blue) - q.blue;
      push(here, x + 1, 7, eR, eG, eB);
      push(above, x - 1, 2, eR, eG, eB);
      push(above, x, 4, eR, eG, eB);
      push(above, x + 1, 1, eR, eG, eB);
    }
  }
}

}  // namespace

bool Image::reduceBitDepth(uint32_t bits, bool errorDiffusion, const RgbQuad* palette) {
  if (bitmapBlock == nullptr || bitCount() < bits) return false;
  if (bitCount() == bits) return true;

  Image result(width(), height(), bits, info.formatType);
  if (!result.isValid()) return false;
  if (selection != nullptr && !result.selectionCopy(*this)) return false;
  if (alpha != nullptr && !result.alphaCopy(*this)) return false;

  switch (result.bitCount()) {
    case 1:
      if (palette != nullptr)
        result.setPalette(palette, 16);
      else
        setBlackAndWhite(result);
      break;
    case 4:
      if (palette != nullptr)
        result.setPalette(palette, 16);
      else
        result.setStandardPalette();
      break;
    case 8:
      if (palette != nullptr)
        result.setPalette(palette, 256);
      else
        result.setStandardPalette();
      break;
    default:
      return false;
  }

  if (errorDiffusion)
    diffusePixels(*this, result);
  else
    mapPixels(*this, result);

  if (bitCount() == 1) setBlackAndWhite(result);
  transfer(result);
  return true;
}

}  // namespace skm
