#include "image/Image.h"

#include "image/ImageInternal.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace skm {

namespace {

constexpr std::size_t HeaderBytes = 40;

uint32_t normalisedDepth(uint32_t bits) {
  if (bits <= 1) return 1;
  if (bits <= 4) return 4;
  if (bits <= 8) return 8;
  return 24;
}

uint32_t entriesForDepth(uint32_t bits) {
  switch (bits) {
    case 1:
      return 2;
    case 4:
      return 16;
    case 8:
      return 256;
    default:
      return 0;
  }
}

void store16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

void store32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

// width × height bytes for a plane, or 0 when it would be empty or exceed the block bound.
std::size_t planeBytes(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return 0;
  const uint64_t bytes = uint64_t(uint32_t(width)) * uint64_t(uint32_t(height));
  if (bytes > MaxImageBlockBytes) return 0;
  return std::size_t(bytes);
}

int32_t pelsPerMeter(int32_t dpi) {
  const double value = std::floor(double(dpi) * 39.37007874015748 + 0.5);
  if (value >= double(std::numeric_limits<int32_t>::max()))
    return std::numeric_limits<int32_t>::max();
  if (value <= double(std::numeric_limits<int32_t>::min()))
    return std::numeric_limits<int32_t>::min();
  return int32_t(value);
}

// The info record of an Image that has been moved from: every field zero.
ImageInfo zeroInfo() {
  ImageInfo zero;
  zero.transparentIndex = 0;
  zero.quality = 0;
  zero.alphaMax = 0;
  zero.flag2 = 0;
  return zero;
}

}  // namespace

// The block is a file image, so its header is little-endian whatever the host is.
void storeInfoHeader(uint8_t* p, const BitmapInfoHeader& h) {
  store32(p + 0, h.size);
  store32(p + 4, uint32_t(h.width));
  store32(p + 8, uint32_t(h.height));
  store16(p + 12, h.planes);
  store16(p + 14, h.bitCount);
  store32(p + 16, h.compression);
  store32(p + 20, h.sizeImage);
  store32(p + 24, uint32_t(h.xPelsPerMeter));
  store32(p + 28, uint32_t(h.yPelsPerMeter));
  store32(p + 32, h.clrUsed);
  store32(p + 36, h.clrImportant);
}

std::size_t rowBytesFor(int32_t width, uint32_t bits) {
  if (width < 0) return 0;
  const uint64_t bitsPerRow = uint64_t(uint32_t(width)) * uint64_t(bits);
  const uint64_t bytes = ((bitsPerRow + 31) / 32) * 4;
  if (bytes > uint64_t(std::numeric_limits<int32_t>::max())) return 0;
  return std::size_t(bytes);
}

Image::Image(int32_t formatType) {
  info.formatType = formatType;
  setXDpi(72);
  setYDpi(72);
}

Image::Image(int32_t width, int32_t height, uint32_t bits, int32_t formatType) : Image(formatType) {
  create(width, height, bits, formatType);
}

Image::~Image() {
  destroy();
}

void Image::destroy() {
  if (sharedFrom != nullptr) return;
  std::free(selection);
  std::free(alpha);
  std::free(bitmapBlock);
  selection = nullptr;
  alpha = nullptr;
  bitmapBlock = nullptr;
  pixels = nullptr;
}

uint8_t* Image::create(int32_t width, int32_t height, uint32_t bits, int32_t formatType,
                       bool zeroRows) {
  if (sharedFrom != nullptr) {
    // A shared copy never frees; it simply lets go of the other Image's buffers.
    bitmapBlock = pixels = selection = alpha = nullptr;
    sharedFrom = nullptr;
  }
  std::free(bitmapBlock);
  bitmapBlock = pixels = nullptr;
  // An oversized or failed request leaves an empty Image, with no plane of the old picture's size.
  auto fail = [this]() -> uint8_t* {
    std::free(selection);
    std::free(alpha);
    selection = alpha = nullptr;
    bitmapBlock = pixels = nullptr;
    header.width = header.height = 0;
    header.bitCount = 0;
    header.sizeImage = header.clrUsed = 0;
    info.rowBytes = 0;
    return nullptr;
  };
  info.formatType = formatType;
  if (width < 0 || height < 0) return fail();
  const uint32_t depth = normalisedDepth(bits);
  const uint32_t entries = entriesForDepth(depth);
  const std::size_t rowBytes = rowBytesFor(width, depth);
  if (width > 0 && rowBytes == 0) return fail();
  const uint64_t imageBytes = uint64_t(rowBytes) * uint64_t(uint32_t(height));
  const uint64_t total = HeaderBytes + uint64_t(entries) * 4 + imageBytes;
  if (total > MaxImageBlockBytes) return fail();

  info.colorType = depth == 24 ? 2 : 1;
  info.rowBytes = int32_t(rowBytes);
  header.size = 40;
  header.width = width;
  header.height = height;
  header.planes = 1;
  header.bitCount = uint16_t(depth);
  header.compression = 0;
  header.sizeImage = uint32_t(imageBytes);
  header.clrUsed = entries;
  header.clrImportant = 0;

  // Zeroed as a whole: row fill bytes and rows a truncated decode never reaches must not carry
  // old heap contents into a written file.
  const std::size_t head = HeaderBytes + std::size_t(entries) * 4;
  auto* block = static_cast<uint8_t*>(zeroRows ? std::calloc(std::size_t(total), 1)
                                               : std::malloc(std::size_t(total)));
  if (block == nullptr) return fail();
  if (!zeroRows) std::memset(block, 0, head);
  bitmapBlock = block;
  if (selection != nullptr) selectionClear();
  if (alpha != nullptr) alphaDelete();
  storeInfoHeader(block, header);
  pixels = block + head;
  return block;
}

void Image::setXDpi(int32_t dpi) {
  info.xDpi = dpi;
  header.xPelsPerMeter = pelsPerMeter(dpi);
}

void Image::setYDpi(int32_t dpi) {
  info.yDpi = dpi;
  header.yPelsPerMeter = pelsPerMeter(dpi);
}

bool Image::copy(const Image& source, bool copyPixels, bool copySelection, bool copyAlpha) {
  if (&source == this) return isValid();
  info = source.info;
  header.xPelsPerMeter = source.header.xPelsPerMeter;
  header.yPelsPerMeter = source.header.yPelsPerMeter;
  if (!source.isValid()) {
    destroy();
    return false;
  }
  if (create(source.width(), source.height(), source.bitCount(), source.info.formatType) == nullptr)
    return false;
  if (copyPixels && source.isValid() && blockSize() == source.blockSize()) {
    std::memcpy(bitmapBlock, source.bitmapBlock, blockSize());
  } else {
    setPalette(source.palette(), 256);
  }
  const std::size_t plane = planeBytes(width(), height());
  if (copySelection && source.selection != nullptr && plane != 0) {
    selection = static_cast<uint8_t*>(std::malloc(plane));
    if (selection == nullptr) return false;
    std::memcpy(selection, source.selection, plane);
  }
  if (copyAlpha && source.alpha != nullptr && plane != 0) {
    alpha = static_cast<uint8_t*>(std::malloc(plane));
    if (alpha == nullptr) return false;
    std::memcpy(alpha, source.alpha, plane);
    if (bitCount() == 24) info.colorType = 4;
  }
  return true;
}

void Image::copyInfo(const Image& source) {
  if (bitmapBlock != nullptr) return;
  info = source.info;
}

void Image::transfer(Image& source) {
  if (&source == this) return;
  if (sharedFrom != nullptr) {
    bitmapBlock = pixels = selection = alpha = nullptr;
    sharedFrom = nullptr;
  }
  destroy();
  header = source.header;
  info = source.info;
  bitmapBlock = source.bitmapBlock;
  pixels = source.pixels;
  selection = source.selection;
  alpha = source.alpha;
  sharedFrom = source.sharedFrom;

  source.header = BitmapInfoHeader{};
  source.header.size = 0;
  source.info = zeroInfo();
  source.bitmapBlock = source.pixels = source.selection = source.alpha = nullptr;
  source.sharedFrom = nullptr;
}

void Image::shareFrom(const Image* source) {
  if (source == nullptr || source == this) return;
  destroy();
  header = source->header;
  info = source->info;
  bitmapBlock = source->bitmapBlock;
  pixels = source->pixels;
  selection = source->selection;
  alpha = source->alpha;
  sharedFrom = source;
}

uint32_t Image::paletteEntries() const {
  return entriesForDepth(header.bitCount);
}

RgbQuad* Image::palette() const {
  if (bitmapBlock == nullptr || paletteEntries() == 0) return nullptr;
  return reinterpret_cast<RgbQuad*>(bitmapBlock + HeaderBytes);
}

std::size_t Image::blockSize() const {
  return HeaderBytes + std::size_t(paletteBytes()) + std::size_t(header.sizeImage);
}

bool Image::isInside(int32_t x, int32_t y) const {
  return x >= 0 && y >= 0 && x < header.width && y < header.height;
}

void Image::setPaletteColor(uint32_t index, uint8_t red, uint8_t green, uint8_t blue,
                            uint8_t reserved) {
  RgbQuad* entries = palette();
  index &= 0xFF;
  if (entries == nullptr || index >= paletteEntries()) return;
  entries[index] = RgbQuad{blue, green, red, reserved};
}

RgbQuad Image::getPaletteColor(uint32_t index) const {
  const RgbQuad* entries = palette();
  index &= 0xFF;
  if (entries == nullptr || index >= paletteEntries()) return RgbQuad{};
  return entries[index];
}

void Image::setPalette(const RgbQuad* entries, uint32_t count) {
  RgbQuad* target = palette();
  if (entries == nullptr || target == nullptr) return;
  const uint32_t n = std::min(count, paletteEntries());
  if (entries != target) std::memmove(target, entries, std::size_t(n) * 4);
}

void Image::setPaletteRGB(uint32_t count, const uint8_t* red, const uint8_t* green,
                          const uint8_t* blue) {
  RgbQuad* target = palette();
  if (red == nullptr || target == nullptr) return;
  if (green == nullptr) green = red;
  if (blue == nullptr) blue = green;
  const uint32_t n = std::min(count, paletteEntries());
  for (uint32_t i = 0; i < n; ++i) {
    target[i].red = red[i];
    target[i].green = green[i];
    target[i].blue = blue[i];
  }
}

uint8_t Image::nearestIndex(RgbQuad colour) const {
  const RgbQuad* entries = palette();
  if (entries == nullptr) return 0;
  const uint32_t n = paletteEntries();
  // The lowest index with the smallest squared distance; an exact match is the smallest
  // possible, so this equals stopping at the first exact match. Computing every distance first
  // keeps the loop free of branches for the vectoriser.
  int32_t distances[256];
  for (uint32_t i = 0; i < n; ++i) {
    const int32_t dr = int32_t(entries[i].red) - colour.red;
    const int32_t dg = int32_t(entries[i].green) - colour.green;
    const int32_t db = int32_t(entries[i].blue) - colour.blue;
    distances[i] = dr * dr + dg * dg + db * db;
  }
  int32_t best = distances[0];
  for (uint32_t i = 1; i < n; ++i) best = std::min(best, distances[i]);
  uint32_t index = 0;
  while (distances[index] != best) ++index;
  return uint8_t(index);
}

void Image::setStandardPalette() {
  if (bitmapBlock == nullptr) return;
  if (header.bitCount == 4) setPalette(StandardPalette16, 16);
  if (header.bitCount == 8) setPalette(StandardPalette256, 256);
}

uint8_t Image::getPixelIndex(int32_t x, int32_t y) const {
  if (bitmapBlock == nullptr || paletteEntries() == 0) return 0;
  if (!isInside(x, y)) return info.transparentIndex != -1 ? uint8_t(info.transparentIndex) : 0;
  return rowIndex(pixelRow(y), header.bitCount, x);
}

void Image::setPixelIndex(int32_t x, int32_t y, uint8_t index) {
  if (bitmapBlock == nullptr || paletteEntries() == 0 || !isInside(x, y)) return;
  setRowIndex(pixelRow(y), header.bitCount, x, index);
}

RgbQuad Image::getPixelColor(int32_t x, int32_t y) const {
  if (bitmapBlock == nullptr || !isInside(x, y)) {
    if (info.transparentIndex != -1 && header.bitCount < 24)
      return getPaletteColor(uint32_t(info.transparentIndex));
    return info.backgroundColor;
  }
  if (header.bitCount < 24) return getPaletteColor(getPixelIndex(x, y));
  const uint8_t* p = pixelRow(y) + std::size_t(x) * 3;
  return RgbQuad{p[0], p[1], p[2], info.backgroundColor.reserved};
}

void Image::setPixelColor(int32_t x, int32_t y, RgbQuad colour) {
  if (bitmapBlock == nullptr || !isInside(x, y)) return;
  if (header.bitCount < 24) {
    setPixelIndex(x, y, nearestIndex(colour));
    return;
  }
  uint8_t* p = pixelRow(y) + std::size_t(x) * 3;
  p[0] = colour.blue;
  p[1] = colour.green;
  p[2] = colour.red;
}

void Image::setPixelRGB(int32_t x, int32_t y, uint32_t packed) {
  setPixelColor(x, y, RgbQuad{uint8_t(packed >> 16), uint8_t(packed >> 8), uint8_t(packed), 0});
}

void Image::overlay(const Image& source, int32_t dx, int32_t dy) {
  const int64_t rowSpan = int64_t(source.height()) - dy;
  const int64_t columnSpan = int64_t(source.width()) - dx;
  const int32_t rows = rowSpan < 0 ? height() : int32_t(std::min<int64_t>(height(), rowSpan));
  const int32_t columns =
      columnSpan < 0 ? width() : int32_t(std::min<int64_t>(width(), columnSpan));
  const bool hasTransparent = source.info.transparentIndex != -1;
  const uint8_t transparent = uint8_t(source.info.transparentIndex);
  for (int32_t i = 0; i < rows; ++i) {
    for (int32_t j = 0; j < columns; ++j) {
      const uint8_t value =
          source.getPixelIndex(int32_t(int64_t(dx) + j), int32_t(int64_t(dy) + i));
      if (hasTransparent && value == transparent) continue;
      setPixelIndex(j, i, value);
    }
  }
}

bool Image::alphaCreate() {
  alphaDelete();
  const std::size_t bytes = planeBytes(width(), height());
  if (bitmapBlock == nullptr || bytes == 0) return false;
  alpha = static_cast<uint8_t*>(std::calloc(bytes, 1));
  if (alpha == nullptr) return false;
  if (header.bitCount == 24) info.colorType = 4;
  return true;
}

void Image::alphaDelete() {
  std::free(alpha);
  alpha = nullptr;
  if (header.bitCount == 24) info.colorType = 2;
}

bool Image::alphaCopy(const Image& source) {
  if (source.alpha == nullptr || source.width() != width() || &source == this) return false;
  const std::size_t bytes = planeBytes(width(), height());
  if (bytes == 0) return false;
  if (alpha == nullptr) {
    alpha = static_cast<uint8_t*>(std::malloc(bytes));
    if (alpha == nullptr) return false;
  }
  std::memcpy(alpha, source.alpha, bytes);
  info.alphaMax = source.info.alphaMax;
  return true;
}

void Image::alphaSet(int32_t x, int32_t y, uint8_t value) {
  if (alpha == nullptr || !isInside(x, y)) return;
  alpha[std::size_t(y) * std::size_t(width()) + std::size_t(x)] = value;
}

uint8_t Image::alphaGet(int32_t x, int32_t y) const {
  if (alpha == nullptr || !isInside(x, y)) return 0;
  return alpha[std::size_t(y) * std::size_t(width()) + std::size_t(x)];
}

void Image::selectionClear() {
  std::free(selection);
  selection = nullptr;
  info.selectionBox[0] = width();
  info.selectionBox[1] = 0;
  info.selectionBox[2] = 0;
  info.selectionBox[3] = height();
}

bool Image::selectionCopy(const Image& source) {
  if (source.selection == nullptr || source.width() != width() || &source == this) return false;
  const std::size_t bytes = planeBytes(width(), height());
  if (bytes == 0) return false;
  if (selection == nullptr) {
    selection = static_cast<uint8_t*>(std::malloc(bytes));
    if (selection == nullptr) return false;
  }
  std::memcpy(selection, source.selection, bytes);
  std::memcpy(info.selectionBox, source.info.selectionBox, sizeof info.selectionBox);
  return true;
}

namespace {

// Positive counts shift right, negative ones left; hostile masks may ask for either.
uint32_t shiftBy(uint32_t value, int count) {
  if (count >= 32 || count <= -32) return 0;
  return count >= 0 ? value >> count : value << -count;
}

int bitsSet16(uint32_t mask) {
  return __builtin_popcount(mask & 0xFFFF);
}

}  // namespace

void Image::expandBitFields(const uint8_t* source, uint32_t redMask, uint32_t greenMask,
                            uint32_t blueMask, uint32_t bits) {
  if (source == nullptr || bitmapBlock == nullptr || header.bitCount != 24) return;
  const int32_t w = width();
  const int32_t h = height();
  if (bits == 16) {
    const int nR = bitsSet16(redMask);
    const int nG = bitsSet16(greenMask);
    const int nB = bitsSet16(blueMask);
    const std::size_t sourceRow = std::size_t((int64_t(w) + 1) / 2) * 4;
    // Backwards, so 16-bit data may sit in our own pixel area: each read lies at or before
    // every byte the matching write touches.
    for (int32_t y = h - 1; y >= 0; --y) {
      const uint8_t* in = source + std::size_t(y) * sourceRow;
      uint8_t* out = pixelRow(y);
      for (int32_t x = w - 1; x >= 0; --x) {
        const uint32_t p = uint32_t(in[2 * x]) | (uint32_t(in[2 * x + 1]) << 8);
        const uint8_t blue = uint8_t(shiftBy((p & blueMask) & 0xFF, nR - 8));
        const uint8_t green = uint8_t(shiftBy(p & greenMask, nR + nG - 8));
        const uint8_t red = uint8_t(shiftBy(p & redMask, nR + nG + nB - 8));
        out[3 * x] = blue;
        out[3 * x + 1] = green;
        out[3 * x + 2] = red;
      }
    }
  } else if (bits == 32) {
    const std::size_t sourceRow = std::size_t(w) * 4;
    for (int32_t y = h - 1; y >= 0; --y) {
      const uint8_t* in = source + std::size_t(y) * sourceRow;
      uint8_t* out = pixelRow(y);
      for (int32_t x = w - 1; x >= 0; --x) {
        out[3 * x] = in[4 * x];
        out[3 * x + 1] = in[4 * x + 1];
        out[3 * x + 2] = in[4 * x + 2];
      }
    }
  }
}

void Image::setLastError(ImageError kind, const char* text) {
  info.errorKind = kind;
  if (text == nullptr) text = "";
  std::size_t n = 0;
  while (n < sizeof info.lastError - 1 && text[n] != '\0') ++n;
  std::memmove(info.lastError, text, n);
  info.lastError[n] = '\0';
}

}  // namespace skm
