#pragma once

#include <cstddef>
#include <cstdint>

namespace skm {

// Largest bitmap block (header, palette and rows) an Image will allocate. A few bytes of hostile
// input can declare gigapixel pictures; anything above this is refused like a failed allocation.
inline constexpr std::size_t MaxImageBlockBytes = std::size_t{256} * 1024 * 1024;

// The message a decoder leaves when the picture's memory cannot be had.
inline constexpr char OutOfMemoryMessage[] = "Can't allocate memory";

// What kind of failure the last-error text reports. Callers decide on the kind; the text is for
// people and may differ between codecs for the same kind.
enum class ImageError : uint8_t {
  None,
  OutOfMemory,    // memory for the picture or a working buffer could not be had
  TooLarge,       // the picture is beyond what an Image may hold
  NotThisFormat,  // the signature is not the codec's
  NoImage,        // the file holds no image
  NoSuchFrame,    // the requested frame is not in the file
  Damaged,        // a damaged block or header stands before the image
  Undecodable,    // the image data cannot be decoded
  NoPixels,       // the image has no pixels
  Unsupported,    // an operation, depth or compression the codec does not handle
  BadArgument,    // no stream, no image or no frames were given
  WriteFailed,    // the stream refused the encoded bytes
};

// Format type codes: they pick the codec in load and save and travel in Image::info.formatType.
inline constexpr int32_t FormatBmp = 0;
inline constexpr int32_t FormatGif = 1;

// Palette entry and colour value: the RGBQUAD byte order.
struct RgbQuad {
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
  uint8_t reserved = 0;
};
static_assert(sizeof(RgbQuad) == 4);

// The 40-byte BMP information header. Stored in the block in little-endian byte order.
struct BitmapInfoHeader {
  uint32_t size = 40;
  int32_t width = 0;
  int32_t height = 0;
  uint16_t planes = 0;
  uint16_t bitCount = 0;
  uint32_t compression = 0;
  uint32_t sizeImage = 0;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  uint32_t clrUsed = 0;
  uint32_t clrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

// Settings and state that travel with a picture; copied as one unit by copy, copyInfo, transfer
// and shareFrom.
struct ImageInfo {
  int32_t rowBytes = 0;
  int32_t formatType = 0;
  uint8_t colorType = 0;  // 1 palette, 2 24-bit colour, 4 24-bit colour with alpha
  char lastError[256] = {};
  ImageError errorKind = ImageError::None;
  int32_t progress = 0;
  int32_t escape = 0;
  int32_t transparentIndex = -1;
  RgbQuad backgroundColor{};
  uint8_t quality = 75;
  int32_t frameIndex = 0;
  int32_t frameCount = 0;
  uint32_t frameDelay = 0;  // hundredths of a second
  int32_t xDpi = 0;
  int32_t yDpi = 0;
  int32_t selectionBox[4] = {};  // left, top, right, bottom
  uint8_t alphaMax = 255;
  uint8_t flag1 = 0;
  uint8_t flag2 = 1;
  int32_t xOffset = 0;
  int32_t yOffset = 0;
};

// An in-memory raster of 1, 4, 8 or 24 bits per pixel, laid out as a DIB: one block holding the
// information header, the palette and the rows (bottom-up, each padded to 4 bytes).
// Pixel accessors take (x, y) with y a stored row (0 = bottom picture row).
class Image {
 public:
  explicit Image(int32_t formatType = FormatBmp);
  Image(int32_t width, int32_t height, uint32_t bits, int32_t formatType);
  virtual ~Image();

  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  // Construction and release.
  // With zeroRows false the rows are left as the allocator gives them: only for a caller that
  // writes every byte of every row, fill bytes included.
  uint8_t* create(int32_t width, int32_t height, uint32_t bits, int32_t formatType,
                  bool zeroRows = true);
  void destroy();
  void setXDpi(int32_t dpi);
  void setYDpi(int32_t dpi);

  // Copying, moving and sharing.
  bool copy(const Image& source, bool copyPixels = true, bool copySelection = true,
            bool copyAlpha = true);
  void copyInfo(const Image& source);
  void transfer(Image& source);
  void shareFrom(const Image* source);

  // Sizes and views.
  bool isValid() const { return bitmapBlock != nullptr; }
  int32_t width() const { return header.width; }
  int32_t height() const { return header.height; }
  uint16_t bitCount() const { return header.bitCount; }
  uint32_t paletteEntries() const;
  uint32_t paletteBytes() const { return paletteEntries() * 4; }
  RgbQuad* palette() const;
  std::size_t blockSize() const;
  bool isInside(int32_t x, int32_t y) const;
  uint8_t* pixelRow(int32_t storedRow) const {
    return pixels + std::size_t(storedRow) * std::size_t(info.rowBytes);
  }

  // Palette.
  void setPaletteColor(uint32_t index, uint8_t red, uint8_t green, uint8_t blue,
                       uint8_t reserved = 0);
  RgbQuad getPaletteColor(uint32_t index) const;
  void setPalette(const RgbQuad* entries, uint32_t count);
  void setPaletteRGB(uint32_t count, const uint8_t* red, const uint8_t* green, const uint8_t* blue);
  uint8_t nearestIndex(RgbQuad colour) const;
  void setStandardPalette();

  // Pixels.
  uint8_t getPixelIndex(int32_t x, int32_t y) const;
  void setPixelIndex(int32_t x, int32_t y, uint8_t index);
  RgbQuad getPixelColor(int32_t x, int32_t y) const;
  void setPixelColor(int32_t x, int32_t y, RgbQuad colour);
  void setPixelRGB(int32_t x, int32_t y, uint32_t packed);

  // Overlay, planes and bit fields.
  void overlay(const Image& source, int32_t dx, int32_t dy);
  bool alphaCreate();
  void alphaDelete();
  bool alphaCopy(const Image& source);
  void alphaSet(int32_t x, int32_t y, uint8_t value);
  uint8_t alphaGet(int32_t x, int32_t y) const;
  void selectionClear();
  bool selectionCopy(const Image& source);
  void expandBitFields(const uint8_t* source, uint32_t redMask, uint32_t greenMask,
                       uint32_t blueMask, uint32_t bits);

  // Transforms (image/Transform.cpp, image/BitDepth.cpp).
  bool crop(int32_t left, int32_t top, int32_t right, int32_t bottom, Image* destination);
  bool resample(int32_t newWidth, int32_t newHeight, int mode);
  bool reduceBitDepth(uint32_t bits, bool errorDiffusion, const RgbQuad* palette);

  // Last-error text and its kind; codecs write them, nothing clears them.
  const char* lastError() const { return info.lastError; }
  ImageError lastErrorKind() const { return info.errorKind; }
  void setLastError(ImageError kind, const char* text);

  // The whole state: header, info record and the three buffers (public for the codecs, which
  // derive from Image and work on the raw rows).
  uint8_t* bitmapBlock = nullptr;
  BitmapInfoHeader header{};
  ImageInfo info{};
  uint8_t* pixels = nullptr;
  const Image* sharedFrom = nullptr;
  uint8_t* selection = nullptr;
  uint8_t* alpha = nullptr;
};

// Writes the header in its 40-byte little-endian file form, whatever the host's byte order.
void storeInfoHeader(uint8_t* destination, const BitmapInfoHeader& header);

// Bytes per stored row of a picture; 0 when the size cannot be represented.
std::size_t rowBytesFor(int32_t width, uint32_t bits);

// The standard palettes, in index order.
extern const RgbQuad StandardPalette16[16];
extern const RgbQuad StandardPalette256[256];

}  // namespace skm
